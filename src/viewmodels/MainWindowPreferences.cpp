#include "viewmodels/MainWindowPreferences.hpp"

#include "platform/Text.hpp"

#include <glib.h>

#include <cmath>

namespace aurelo {

namespace {

// A stored number that is not finite (hand-edited, damaged) is treated as absent.
double finiteOr(std::optional<double> value, double fallback) {
    return value && std::isfinite(*value) ? *value : fallback;
}

} // namespace

MainWindowPreferences::MainWindowPreferences(UserDefaults& defaults)
    : m_defaults(defaults), m_pageZoom(finiteOr(defaults.number(kPageZoomKey), 1.0)),
      m_showTranslationBox(defaults.boolean(kShowTranslationBoxKey).value_or(true)),
      m_showQuickTranslationSettings(
          defaults.boolean(kShowQuickTranslationSettingsKey).value_or(true)),
      m_receiveTranslationEnabled(defaults.boolean(kReceiveTranslationEnabledKey).value_or(true)),
      m_groupTranslationEnabled(defaults.boolean(kGroupTranslationEnabledKey).value_or(false)),
      m_translationFontSize(finiteOr(defaults.number(kTranslationFontSizeKey), 16.0)),
      m_translationFontColor(
          defaults.string(kTranslationFontColorKey).value_or(std::string(kGoldColor))),
      m_didAdoptGoldTranslationColor(
          defaults.boolean(kDidAdoptGoldTranslationColorKey).value_or(false)),
      m_doNotDisturb(defaults.boolean(kDoNotDisturbKey).value_or(false)),
      m_quickSettingsExpanded(defaults.boolean(kQuickSettingsExpandedKey).value_or(false)),
      m_focusLayout(defaults.boolean(kFocusLayoutKey).value_or(false)) {}

MainWindowPreferences::Layout MainWindowPreferences::layout() const {
    if (m_focusLayout)
        return {.header = false,
                .quickSettings = false,
                .quickControls = false,
                .translationBox = false};
    return {.header = true,
            .quickSettings = m_showQuickTranslationSettings,
            .quickControls = m_showQuickTranslationSettings && m_quickSettingsExpanded,
            .translationBox = m_showTranslationBox};
}

void MainWindowPreferences::write(Field field, std::string_view key, UserDefaults::Json value) {
    // A failed write keeps the value for this run; the defaults store reports why.
    (void)m_defaults.set(key, std::move(value));
    m_changed.emit(field);
}

void MainWindowPreferences::setPageZoom(double zoom) {
    m_pageZoom = zoom;
    write(Field::PageZoom, kPageZoomKey, zoom);
}

void MainWindowPreferences::setShowTranslationBox(bool value) {
    m_showTranslationBox = value;
    write(Field::ShowTranslationBox, kShowTranslationBoxKey, value);
}

void MainWindowPreferences::setShowQuickTranslationSettings(bool value) {
    m_showQuickTranslationSettings = value;
    write(Field::ShowQuickTranslationSettings, kShowQuickTranslationSettingsKey, value);
}

void MainWindowPreferences::setReceiveTranslationEnabled(bool value) {
    m_receiveTranslationEnabled = value;
    write(Field::ReceiveTranslationEnabled, kReceiveTranslationEnabledKey, value);
}

void MainWindowPreferences::setGroupTranslationEnabled(bool value) {
    m_groupTranslationEnabled = value;
    write(Field::GroupTranslationEnabled, kGroupTranslationEnabledKey, value);
}

void MainWindowPreferences::setTranslationFontSize(double size) {
    m_translationFontSize = size;
    write(Field::TranslationFontSize, kTranslationFontSizeKey, size);
}

void MainWindowPreferences::setTranslationFontColor(std::string color) {
    m_translationFontColor = std::move(color);
    write(Field::TranslationFontColor, kTranslationFontColorKey, m_translationFontColor);
}

void MainWindowPreferences::setDoNotDisturb(bool value) {
    m_doNotDisturb = value;
    write(Field::DoNotDisturb, kDoNotDisturbKey, value);
}

void MainWindowPreferences::setQuickSettingsExpanded(bool value) {
    m_quickSettingsExpanded = value;
    write(Field::QuickSettingsExpanded, kQuickSettingsExpandedKey, value);
}

void MainWindowPreferences::setFocusLayout(bool value) {
    m_focusLayout = value;
    write(Field::FocusLayout, kFocusLayoutKey, value);
}

void MainWindowPreferences::adoptGoldTranslationColor() {
    if (m_didAdoptGoldTranslationColor)
        return;
    if (text::asciiUppercased(m_translationFontColor) == kOldGreenColor)
        setTranslationFontColor(std::string(kGoldColor));
    m_didAdoptGoldTranslationColor = true;
    write(Field::DidAdoptGoldTranslationColor, kDidAdoptGoldTranslationColorKey, true);
}

} // namespace aurelo

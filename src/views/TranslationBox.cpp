#include "views/TranslationBox.hpp"

#include "platform/Text.hpp"
#include "views/WidgetHelpers.hpp"

#include <gdkmm/clipboard.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/eventcontrollerkey.h>
#include <gtkmm/gestureclick.h>
#include <gtkmm/image.h>
#include <gtkmm/menubutton.h>
#include <gtkmm/overlay.h>
#include <gtkmm/popover.h>
#include <gtkmm/scrolledwindow.h>
#include <gtkmm/separator.h>
#include <gtkmm/stringlist.h>

namespace aurelo {

TranslationBox::TranslationBox(TranslationBoxModel& model)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 6), m_model(model) {
    add_css_class("aurelo-translation-box");
    set_margin_start(12);
    set_margin_end(12);
    set_margin_top(6);
    set_margin_bottom(6);

    // One line while idle, so that the pages above keep the height: title, direction, shortcut
    // hint, the field (one line that grows while typing), translate, copy, clear and the
    // direction picker. The result opens under it once there is one.
    auto* header = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    auto* title = Gtk::make_managed<Gtk::Label>("智能翻译文框");
    title->add_css_class("heading");
    m_direction.add_css_class("aurelo-subtitle");
    auto* hint = Gtk::make_managed<Gtk::Label>("Ctrl ↩ 翻译");
    hint->add_css_class("aurelo-subtitle");
    // The explanations give way first on a narrow window; the controls keep their size.
    hint->set_ellipsize(Pango::EllipsizeMode::END);
    m_direction.set_ellipsize(Pango::EllipsizeMode::END);
    auto* copy = Gtk::make_managed<Gtk::Button>("复制译文");
    copy->signal_clicked().connect([this] {
        if (auto text = m_model.copyOutput())
            get_clipboard()->set_text(*text);
    });
    auto* clear = Gtk::make_managed<Gtk::Button>("清空");
    clear->signal_clicked().connect([this] { m_model.clearTranslation(); });
    auto targets =
        Gtk::StringList::create(std::vector<Glib::ustring>{"自动（中↔英）", "英语", "简体中文"});
    auto* picker = Gtk::make_managed<Gtk::DropDown>(targets);
    setAccessibleLabel(*picker, "翻译方向");
    picker->set_tooltip_text("翻译方向");
    picker->set_selected(static_cast<guint>(m_model.preferredTarget()));
    picker->property_selected().signal_changed().connect([this, picker] {
        if (picker->get_selected() != GTK_INVALID_LIST_POSITION)
            m_model.setPreferredTarget(static_cast<TargetLanguage>(picker->get_selected()));
    });
    m_picker = picker;

    // The field: Return (or Ctrl+Return) translates; Shift+Return breaks the line.
    auto* scroller = Gtk::make_managed<Gtk::ScrolledWindow>();
    scroller->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    scroller->set_min_content_height(32);
    scroller->set_max_content_height(96);
    scroller->set_propagate_natural_height(true);
    scroller->set_hexpand(true);
    m_input.set_wrap_mode(Gtk::WrapMode::WORD_CHAR);
    m_input.set_top_margin(6);
    m_input.set_left_margin(8);
    scroller->set_child(m_input);
    // A text view has no placeholder of its own: a label over it, shown while it is empty, and
    // out of the pointer's way so a click still lands in the field.
    auto* field = Gtk::make_managed<Gtk::Overlay>();
    field->set_child(*scroller);
    field->set_hexpand(true);
    m_placeholder.add_css_class("aurelo-placeholder");
    m_placeholder.set_halign(Gtk::Align::START);
    m_placeholder.set_valign(Gtk::Align::START);
    m_placeholder.set_margin_start(10);
    m_placeholder.set_margin_top(6);
    m_placeholder.set_ellipsize(Pango::EllipsizeMode::END);
    m_placeholder.set_can_target(false);
    field->add_overlay(m_placeholder);
    auto keys = Gtk::EventControllerKey::create();
    keys->signal_key_pressed().connect(
        [this](guint key, guint, Gdk::ModifierType state) {
            if ((key == GDK_KEY_Return || key == GDK_KEY_KP_Enter) &&
                (state & Gdk::ModifierType::SHIFT_MASK) != Gdk::ModifierType::SHIFT_MASK) {
                m_model.performTranslation();
                return true;
            }
            return false;
        },
        false);
    m_input.add_controller(keys);
    m_input.get_buffer()->signal_changed().connect([this] {
        if (!m_updatingInput)
            m_model.setInput(m_input.get_buffer()->get_text());
    });
    m_translate.add_css_class("aurelo-primary");
    m_translate.signal_clicked().connect([this] { m_model.performTranslation(); });
    field->set_size_request(160, -1);
    // While the field grows the rest stays on its first line.
    for (Gtk::Widget* widget : std::initializer_list<Gtk::Widget*>{
             title, &m_direction, hint, field, &m_spinner, &m_translate, copy, clear, picker}) {
        if (widget != field)
            widget->set_valign(Gtk::Align::START);
        header->append(*widget);
    }
    for (Gtk::Widget* label : std::initializer_list<Gtk::Widget*>{title, &m_direction, hint})
        label->set_margin_top(8);
    append(*header);

    // Result area.
    auto* outputCaption = Gtk::make_managed<Gtk::Label>("英文翻译");
    outputCaption->add_css_class("aurelo-subtitle");
    outputCaption->set_xalign(0);
    m_output.set_selectable(true);
    m_output.set_wrap(true);
    m_output.set_xalign(0);
    m_sourceCaption.add_css_class("aurelo-subtitle");
    m_sourceCaption.set_xalign(0);
    m_source.set_wrap(true);
    m_source.set_xalign(0);
    m_error.add_css_class("aurelo-error");
    m_error.set_wrap(true);
    m_error.set_xalign(0);
    auto* actions = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    auto* copyShort = Gtk::make_managed<Gtk::Button>("复制");
    copyShort->signal_clicked().connect([this] {
        if (auto text = m_model.copyOutput())
            get_clipboard()->set_text(*text);
    });
    m_insert.add_css_class("aurelo-primary");
    m_insert.signal_clicked().connect([this] { m_model.insertOutput(); });
    m_note.add_css_class("aurelo-subtitle");
    actions->append(*copyShort);
    actions->append(m_insert);
    actions->append(m_note);
    m_result.append(*outputCaption);
    m_result.append(m_output);
    m_result.append(m_sourceCaption);
    m_result.append(m_source);
    m_result.append(*actions);
    append(m_error);
    append(m_result);
    m_detected.add_css_class("aurelo-subtitle");
    m_detected.set_xalign(0);
    append(m_detected);

    m_connections.push_back(
        m_model.signalChanged().connect([this](TranslationBoxModel::Field field) {
            if (field == TranslationBoxModel::Field::Input &&
                m_input.get_buffer()->get_text() != Glib::ustring(m_model.input())) {
                m_updatingInput = true;
                m_input.get_buffer()->set_text(m_model.input());
                m_updatingInput = false;
            }
            if (field == TranslationBoxModel::Field::PreferredTarget &&
                m_picker->get_selected() != static_cast<guint>(m_model.preferredTarget()))
                m_picker->set_selected(static_cast<guint>(m_model.preferredTarget()));
            refresh();
        }));
    // A click anywhere on the panel that no control takes puts the cursor into the field.
    auto click = Gtk::GestureClick::create();
    click->signal_released().connect([this](int, double, double) { m_input.grab_focus(); });
    add_controller(click);
    m_connections.push_back(m_model.signalFocusRequested().connect([this](bool focus) {
        if (focus)
            m_input.grab_focus();
    }));
    refresh();
}

TranslationBox::~TranslationBox() {
    for (auto& connection : m_connections)
        connection.disconnect();
}

void TranslationBox::refresh() {
    const bool chinese = TranslationBoxModel::containsChinese(m_model.input());
    m_direction.set_text(chinese ? "中文 → 英文" : "自动识别语言");
    const std::string placeholder = m_model.placeholderText();
    m_placeholder.set_text(placeholder);
    m_placeholder.set_visible(m_model.input().empty());
    setAccessibleLabel(m_input, placeholder);
    m_spinner.set_visible(m_model.translating());
    m_spinner.set_spinning(m_model.translating());
    m_translate.set_sensitive(!text::trimmed(m_model.input()).empty() && !m_model.translating());
    m_error.set_text(m_model.errorMessage());
    m_error.set_visible(!m_model.errorMessage().empty());
    m_result.set_visible(m_model.errorMessage().empty() && !m_model.output().empty());
    m_output.set_text(m_model.output());
    m_source.set_text(m_model.input());
    m_source.set_visible(chinese);
    m_sourceCaption.set_visible(chinese);
    m_insert.set_visible(m_model.readyToInsert());
    m_insert.set_label(m_model.insertButtonLabel());
    m_note.set_text(m_model.readyToInsert() ? m_model.insertNote() : "点击此区域输入，按回车翻译");
    const auto detected = m_model.detectedLabel();
    m_detected.set_visible(detected.has_value());
    m_detected.set_text("检测到：" + detected.value_or(""));
}

} // namespace aurelo

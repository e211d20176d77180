#include "views/NewAccountSheet.hpp"

#include "viewmodels/SymbolIcons.hpp"
#include "views/SheetLayout.hpp"
#include "views/WidgetHelpers.hpp"

#include <gtkmm/colorchooserdialog.h>
#include <gtkmm/drawingarea.h>
#include <gtkmm/separator.h>
#include <pango/pango.h>

#include <cmath>

namespace aurelo {

namespace {

constexpr std::array<std::string_view, 4> kSectionSymbols{
    "person.text.rectangle.fill", "character.book.closed.fill", "network", "paintpalette.fill"};

constexpr const char* kPreviewText = "译：Hello，这是当前账号的译文显示预览。";

// The header, the error line (two lines of text at most) and the footer, which stay in sight
// while the sections scroll between them.
constexpr int kFixedHeight = 230;

// A round swatch of one colour text, drawn the way the page will show that colour.
Gtk::DrawingArea* swatchDot(std::string colorTextValue) {
    auto* dot = Gtk::make_managed<Gtk::DrawingArea>();
    dot->set_content_width(22);
    dot->set_content_height(22);
    dot->set_draw_func([color = colorForText(colorTextValue)](
                           const Cairo::RefPtr<Cairo::Context>& cr, int width, int height) {
        cr->arc(width / 2.0, height / 2.0, std::min(width, height) / 2.0 - 1, 0, 2 * M_PI);
        cr->set_source_rgb(color.red, color.green, color.blue);
        cr->fill_preserve();
        cr->set_source_rgba(0.5, 0.5, 0.5, 0.6);
        cr->set_line_width(1);
        cr->stroke();
    });
    return dot;
}

Gtk::Box* switchRow(Gtk::Switch& toggle, const Glib::ustring& title) {
    auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 10);
    auto* label = Gtk::make_managed<Gtk::Label>(title);
    label->set_xalign(0);
    label->set_hexpand(true);
    toggle.set_valign(Gtk::Align::CENTER);
    setAccessibleLabel(toggle, title);
    row->append(*label);
    row->append(toggle);
    return row;
}

Gtk::Box* pickerPair(const Glib::ustring& firstCaption, Gtk::Widget& first,
                     const Glib::ustring& secondCaption, Gtk::Widget& second) {
    auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
    row->set_homogeneous(true);
    row->append(*SheetLayout::labeled(firstCaption, first));
    row->append(*SheetLayout::labeled(secondCaption, second));
    return row;
}

Gtk::Box* sectionPage() {
    auto* page = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 14);
    page->set_margin(20);
    return page;
}

} // namespace

NewAccountSheet::NewAccountSheet(NewSessionForm& form, Gtk::Window* parent)
    : FormSheet(form, parent, form.title()), m_form(form),
      m_pickers({"我的输入语言", "发送翻译为", "收到消息翻译为", "我的已发送消息译为", "翻译引擎",
                 "代理类型"}),
      m_proxyFields(form, m_pickers.proxyType,
                    {"代理主机或 IP，例如 127.0.0.1", "端口", 8,
                     "端口必须在 1–65535 之间。保存后，此账号将只通过该代理加载网页。"}) {
    set_default_size(760, -1);
    add_css_class("aurelo-sheet");

    auto* column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 0);

    // Header.
    auto* header = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
    header->set_margin(20);
    auto* headerIcon = SheetLayout::symbolImage("person.crop.circle.badge.gearshape", 34);
    headerIcon->add_css_class("aurelo-gold");
    auto* headerTexts = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 2);
    headerTexts->set_hexpand(true);
    m_title.add_css_class("aurelo-title");
    m_title.set_xalign(0);
    headerTexts->append(m_title);
    headerTexts->append(
        *SheetLayout::note("创建独立账号，并设置专属翻译语言、译文外观和网络代理。"));
    auto* close = Gtk::make_managed<Gtk::Button>();
    close->set_icon_name(symbolIconName("xmark"));
    close->set_has_frame(false);
    close->set_valign(Gtk::Align::START);
    close->set_tooltip_text("关闭");
    setAccessibleLabel(*close, "关闭");
    close->signal_clicked().connect([this] { dismiss(); });
    header->append(*headerIcon);
    header->append(*headerTexts);
    header->append(*close);
    column->append(*header);
    column->append(*Gtk::make_managed<Gtk::Separator>());

    // Section buttons on the left, the chosen section on the right.
    auto* body = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 0);
    auto* sections = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 6);
    sections->set_margin(14);
    sections->set_size_request(190, -1);
    for (std::size_t i = 0; i < m_sections.size(); ++i) {
        auto* button = Gtk::make_managed<Gtk::ToggleButton>();
        auto* content = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
        content->append(*SheetLayout::symbolImage(kSectionSymbols[i], 16));
        content->append(*Gtk::make_managed<Gtk::Label>(
            Glib::ustring(std::string(NewSessionForm::kSetupSectionTitles[i]))));
        button->set_child(*content);
        button->set_has_frame(false);
        button->add_css_class("aurelo-section-button");
        const Glib::ustring title(std::string(NewSessionForm::kSetupSectionTitles[i]));
        setAccessibleLabel(*button, title);
        button->signal_toggled().connect([this, title] {
            if (m_syncing)
                return;
            m_form.setSetupSection(title);
            refresh();
        });
        m_sections[i] = button;
        sections->append(*button);
    }
    auto* spacer = Gtk::make_managed<Gtk::Box>();
    spacer->set_vexpand(true);
    sections->append(*spacer);
    sections->append(*SheetLayout::infoCard("lock.shield.fill", "每个账号完全独立"));
    body->append(*sections);
    body->append(*Gtk::make_managed<Gtk::Separator>(Gtk::Orientation::VERTICAL));
    m_stack.set_hexpand(true);
    m_stack.set_vhomogeneous(false);
    m_stack.add(*buildBasicSection(), "basic");
    m_stack.add(*buildTranslationSection(), "translation");
    m_stack.add(*buildProxySection(), "proxy");
    m_stack.add(*buildAppearanceSection(), "appearance");
    body->append(m_stack);
    column->append(*sheetScroller(*body, kFixedHeight));
    column->append(*Gtk::make_managed<Gtk::Separator>());
    m_error.set_margin_start(16);
    m_error.set_margin_end(16);
    m_error.set_margin_top(12);
    column->append(SheetLayout::errorLine(m_error));

    // Footer.
    auto* footer = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    footer->set_margin(16);
    m_hintIcon.set_from_icon_name(symbolIconName("checkmark.circle.fill"));
    m_hintIcon.add_css_class("aurelo-ready");
    m_hint.set_xalign(0);
    m_hint.set_hexpand(true);
    m_hint.add_css_class("aurelo-subtitle");
    m_cancel.signal_clicked().connect([this] { dismiss(); });
    auto* addContent = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    addContent->append(*SheetLayout::symbolImage("plus.circle.fill", 16));
    addContent->append(*Gtk::make_managed<Gtk::Label>("添加账号"));
    m_add.set_child(*addContent);
    m_add.add_css_class("aurelo-primary");
    setAccessibleLabel(m_add, "添加账号");
    m_add.signal_clicked().connect([this] { m_form.save(); });
    footer->append(m_hintIcon);
    footer->append(m_hint);
    footer->append(m_cancel);
    footer->append(m_add);
    column->append(*footer);
    set_child(*column);

    m_pickers.bind(m_form);
    followForm(m_name);
}

NewAccountSheet::~NewAccountSheet() = default;

Gtk::Widget* NewAccountSheet::buildBasicSection() {
    auto* page = sectionPage();
    page->append(*SheetLayout::sectionHeader("person.text.rectangle.fill", "账号信息",
                                             "使用清楚的备注名称，方便在多开任务栏中快速识别。"));
    m_name.set_placeholder_text("例如：北美客户、朋友、工作号");
    bindEntry(m_name, m_form, &NewSessionForm::setName);
    m_name.signal_activate().connect([this] {
        if (m_form.isValid())
            m_form.save();
    });
    page->append(*SheetLayout::labeled("账号名称", m_name));
    m_counter.set_xalign(1);
    m_counter.add_css_class("aurelo-subtitle");
    page->append(m_counter);
    page->append(SheetLayout::errorLine(m_nameError));
    page->append(*SheetLayout::infoCard(
        "square.stack.3d.up.fill", "独立会话",
        "此账号拥有独立的登录资料、Cookie、翻译配置和代理设置，不会与其他账号混用。"));
    return page;
}

Gtk::Widget* NewAccountSheet::buildTranslationSection() {
    auto* page = sectionPage();
    page->append(
        *SheetLayout::sectionHeader("character.book.closed.fill", "翻译设置",
                                    "分别控制发出的内容和收到的消息，设置会单独保存到该账号。"));
    page->append(*switchRow(m_sendTranslation, "启用发送翻译"));
    page->append(*pickerPair("我的输入语言", m_pickers.input, "发送翻译为", m_pickers.outgoing));
    page->append(*Gtk::make_managed<Gtk::Separator>());
    page->append(*switchRow(m_receiveTranslation, "启用接收翻译"));
    page->append(*pickerPair("收到消息翻译为", m_pickers.incoming, "我的已发送消息译为",
                             m_pickers.ownMessage));
    page->append(*SheetLayout::labeled("翻译引擎", m_pickers.provider));
    page->append(
        *SheetLayout::infoCard("lock.shield.fill", "中文发送保护",
                               "发送翻译开启时，中文原文不会直接发送；系统会先完成目标语言翻译。"));

    m_sendTranslation.property_active().signal_changed().connect([this] {
        if (!m_syncing)
            m_form.setSendTranslation(m_sendTranslation.get_active());
    });
    m_receiveTranslation.property_active().signal_changed().connect([this] {
        if (!m_syncing)
            m_form.setReceiveTranslation(m_receiveTranslation.get_active());
    });
    return page;
}

Gtk::Widget* NewAccountSheet::buildProxySection() {
    auto* page = sectionPage();
    auto* header = SheetLayout::sectionHeader(
        "network", "独立网络代理", "可为当前账号绑定独立 IP 节点，其他账号继续使用自己的网络。");
    header->get_last_child()->set_hexpand(true);
    m_proxyEnabled.set_valign(Gtk::Align::CENTER);
    setAccessibleLabel(m_proxyEnabled, "独立网络代理");
    header->append(m_proxyEnabled);
    page->append(*header);

    m_directNote.set_text("当前账号将使用系统默认网络连接。");
    m_directNote.add_css_class("aurelo-subtitle");
    m_directNote.set_xalign(0);
    page->append(m_directNote);

    page->append(m_proxyFields);

    m_proxyEnabled.property_active().signal_changed().connect([this] {
        if (!m_syncing)
            m_form.setProxyEnabled(m_proxyEnabled.get_active());
    });
    return page;
}

Gtk::Widget* NewAccountSheet::buildAppearanceSection() {
    auto* page = sectionPage();
    page->append(*SheetLayout::sectionHeader(
        "paintpalette.fill", "译文外观", "黑金是默认主题，也可以为此账号单独选择译文颜色和字号。"));

    auto* colors = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    for (std::string_view swatch : kTranslationColorSwatches) {
        auto* button = Gtk::make_managed<Gtk::ToggleButton>();
        button->set_child(*swatchDot(std::string(swatch)));
        button->add_css_class("aurelo-swatch");
        setAccessibleLabel(*button, Glib::ustring(std::string(swatch)));
        button->set_tooltip_text(Glib::ustring(std::string(swatch)));
        button->signal_toggled().connect([this, color = std::string(swatch)] {
            if (m_syncing)
                return;
            m_form.setFontColor(color);
            refresh();
        });
        m_swatches.push_back(button);
        colors->append(*button);
    }
    m_customColor = Gtk::make_managed<Gtk::ToggleButton>("自定义");
    m_customColor->signal_toggled().connect([this] {
        if (m_syncing)
            return;
        refresh();
        openColorPicker();
    });
    colors->append(*m_customColor);
    auto* colorCaption = Gtk::make_managed<Gtk::Label>("字体颜色");
    colorCaption->set_xalign(0);
    page->append(*colorCaption);
    page->append(*colors);

    auto* sizes = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    for (int size : kTranslationFontSizes) {
        auto* button = Gtk::make_managed<Gtk::ToggleButton>(fontSizeLabel(size));
        button->signal_toggled().connect([this, size] {
            if (m_syncing)
                return;
            m_form.setFontSize(size);
            refresh();
        });
        m_sizes.push_back(button);
        sizes->append(*button);
    }
    auto* sizeCaption = Gtk::make_managed<Gtk::Label>("字体大小");
    sizeCaption->set_xalign(0);
    page->append(*sizeCaption);
    page->append(*sizes);

    auto* previewCard = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 6);
    previewCard->add_css_class("aurelo-info-card");
    auto* previewCaption = Gtk::make_managed<Gtk::Label>("消息预览");
    previewCaption->set_xalign(0);
    previewCaption->add_css_class("aurelo-subtitle");
    m_preview.set_xalign(0);
    m_preview.set_wrap(true);
    previewCard->append(*previewCaption);
    previewCard->append(m_preview);
    page->append(*previewCard);
    return page;
}

void NewAccountSheet::openColorPicker() {
    // GTK 4.8 has no asynchronous colour dialog yet; the chooser dialog is its colour picker.
    m_colorDialog = std::make_unique<Gtk::ColorChooserDialog>("自定义", *this);
    m_colorDialog->set_modal(true);
    const RgbColor current = colorForText(m_form.fontColor());
    Gdk::RGBA rgba;
    rgba.set_rgba(current.red, current.green, current.blue, 1.0);
    m_colorDialog->set_rgba(rgba);
    m_colorDialog->set_use_alpha(false);
    m_colorDialog->signal_response().connect([this](int response) {
        if (response == Gtk::ResponseType::OK) {
            const Gdk::RGBA chosen = m_colorDialog->get_rgba();
            m_form.setFontColor(
                colorText({chosen.get_red(), chosen.get_green(), chosen.get_blue()}));
        }
        m_colorDialog->hide();
        refresh();
    });
    m_colorDialog->present();
}

void NewAccountSheet::redraw() {
    const std::string title = m_form.title();
    set_title(title);
    m_title.set_text(title);

    const auto shown = m_form.shownSetupSection();
    static constexpr std::array<const char*, 4> kPages{"basic", "translation", "proxy",
                                                       "appearance"};
    for (std::size_t i = 0; i < m_sections.size(); ++i)
        m_sections[i]->set_active(static_cast<std::size_t>(shown) == i);
    m_stack.set_visible_child(kPages[static_cast<std::size_t>(shown)]);

    showText(m_name, m_form.name());
    m_counter.set_text(m_form.nameCounterText());
    SheetLayout::showFieldError(m_nameError, m_name, m_form.nameError());

    m_sendTranslation.set_active(m_form.sendTranslation());
    m_receiveTranslation.set_active(m_form.receiveTranslation());
    m_pickers.show(m_form);

    m_proxyEnabled.set_active(m_form.proxyEnabled());
    m_directNote.set_visible(!m_form.proxyEnabled());
    m_proxyFields.set_visible(m_form.proxyEnabled());
    m_proxyFields.redraw();
    SheetLayout::showError(m_error, m_form.error());

    const auto swatch = m_form.selectedSwatch();
    for (std::size_t i = 0; i < m_swatches.size(); ++i)
        m_swatches[i]->set_active(swatch == i);
    m_customColor->set_active(!swatch.has_value());
    const auto size = m_form.selectedFontSize();
    for (std::size_t i = 0; i < m_sizes.size(); ++i)
        m_sizes[i]->set_active(size == i);

    // The preview in the chosen colour and size (points are CSS pixels in the page).
    const RgbColor color = colorForText(m_form.fontColor());
    auto* attributes = pango_attr_list_new();
    pango_attr_list_insert(attributes, pango_attr_foreground_new(guint16(color.red * 65535),
                                                                 guint16(color.green * 65535),
                                                                 guint16(color.blue * 65535)));
    pango_attr_list_insert(attributes,
                           pango_attr_size_new_absolute(int(m_form.fontSize() * PANGO_SCALE)));
    m_preview.set_text(kPreviewText);
    gtk_label_set_attributes(m_preview.gobj(), attributes);
    pango_attr_list_unref(attributes);

    const bool valid = m_form.isValid();
    m_hint.set_text(Glib::ustring(std::string(m_form.footerHint())));
    m_hintIcon.set_visible(valid);
    m_add.set_sensitive(valid);
}

} // namespace aurelo

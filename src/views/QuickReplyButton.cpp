#include "views/QuickReplyButton.hpp"

#include "views/WidgetHelpers.hpp"

#include <gtkmm/box.h>
#include <gtkmm/eventcontrollerkey.h>
#include <gtkmm/scrolledwindow.h>

namespace aurelo {

namespace {

constexpr int kPreviewCharacters = 60;

// The first line of a phrase, cut short; "…" marks that there is more.
Glib::ustring preview(const std::string& text) {
    const Glib::ustring whole(text);
    const Glib::ustring line = whole.substr(0, whole.find('\n'));
    if (line.size() > kPreviewCharacters)
        return line.substr(0, kPreviewCharacters) + "…";
    return line.size() < whole.size() ? line + "…" : line;
}

} // namespace

QuickReplyButton::QuickReplyButton(QuickReplyPicker& picker) : m_picker(picker) {
    set_label("常用语");
    setAccessibleLabel(*this, "常用语");
    set_tooltip_text("常用语：选一条，翻译后填入当前对话（Ctrl+Shift+1…9 直接填入前九条）");
    set_valign(Gtk::Align::CENTER);

    auto* column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 8);
    column->set_margin(8);
    // Not set_placeholder_text: in gtkmm 4.8 it calls GtkEntry's, which a GtkSearchEntry is not.
    m_search.property_placeholder_text() = "搜索标题或内容";
    setAccessibleLabel(m_search, "搜索常用语");
    auto* scroller = Gtk::make_managed<Gtk::ScrolledWindow>();
    scroller->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    scroller->set_min_content_height(120);
    scroller->set_max_content_height(320);
    scroller->set_propagate_natural_height(true);
    scroller->set_size_request(340, -1);
    m_list.set_selection_mode(Gtk::SelectionMode::SINGLE);
    setAccessibleLabel(m_list, "常用语");
    m_list.set_placeholder(m_empty);
    scroller->set_child(m_list);
    m_empty.add_css_class("aurelo-subtitle");
    m_empty.set_margin(12);
    m_error.add_css_class("aurelo-error");
    m_error.set_wrap(true);
    m_error.set_xalign(0);
    auto* footer = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    auto* hint = note("回车：翻译后填入 · Shift+回车：填入原文");
    hint->set_hexpand(true);
    footer->append(*hint);
    footer->append(m_spinner);
    column->append(m_search);
    column->append(*scroller);
    column->append(m_error);
    column->append(*footer);
    m_popover.set_child(*column);
    set_popover(m_popover);

    m_popover.signal_show().connect([this] {
        if (!m_openingForError)
            m_picker.reset();
        m_openingForError = false;
        m_search.grab_focus();
    });
    m_search.signal_search_changed().connect([this] {
        if (!m_syncing)
            m_picker.setQuery(m_search.get_text());
    });
    auto keys = Gtk::EventControllerKey::create();
    keys->signal_key_pressed().connect(
        [this](guint key, guint, Gdk::ModifierType state) {
            const bool shift =
                (state & Gdk::ModifierType::SHIFT_MASK) == Gdk::ModifierType::SHIFT_MASK;
            switch (key) {
            case GDK_KEY_Up:
                m_picker.moveHighlight(-1);
                return true;
            case GDK_KEY_Down:
                m_picker.moveHighlight(1);
                return true;
            case GDK_KEY_Return:
            case GDK_KEY_KP_Enter:
                m_picker.pickHighlighted(shift ? QuickReplyPicker::Insertion::AsWritten
                                               : QuickReplyPicker::Insertion::Translated);
                return true;
            case GDK_KEY_Escape:
                m_popover.popdown();
                return true;
            default:
                return false;
            }
        },
        false);
    keys->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
    m_search.add_controller(keys);
    m_list.signal_row_activated().connect([this](Gtk::ListBoxRow* row) {
        if (!row)
            return;
        m_picker.highlight(static_cast<std::size_t>(row->get_index()));
        m_picker.pickHighlighted(QuickReplyPicker::Insertion::Translated);
    });

    m_connections.push_back(m_picker.signalChanged().connect([this](QuickReplyPicker::Field field) {
        if (field == QuickReplyPicker::Field::Matches)
            showMatches();
        else if (field == QuickReplyPicker::Field::Highlighted)
            showHighlight();
        else
            showState();
    }));
    m_connections.push_back(m_picker.signalInserted().connect([this] { m_popover.popdown(); }));
    showMatches();
    showState();
}

QuickReplyButton::~QuickReplyButton() {
    for (auto& connection : m_connections)
        connection.disconnect();
}

void QuickReplyButton::showMatches() {
    if (m_search.get_text() != Glib::ustring(m_picker.query())) {
        m_syncing = true;
        m_search.set_text(m_picker.query());
        m_syncing = false;
    }
    while (auto* row = m_list.get_row_at_index(0))
        m_list.remove(*row);
    for (const auto& reply : m_picker.matches()) {
        auto* content = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 2);
        content->set_margin(6);
        auto* title = Gtk::make_managed<Gtk::Label>(reply.title);
        title->set_xalign(0);
        title->set_ellipsize(Pango::EllipsizeMode::END);
        auto* text = note(preview(reply.text));
        text->set_wrap(false);
        text->set_ellipsize(Pango::EllipsizeMode::END);
        content->append(*title);
        content->append(*text);
        m_list.append(*content);
    }
    m_empty.set_text(m_picker.query().empty() ? "还没有常用语，请在设置的“常用语”中添加"
                                              : "没有找到匹配的常用语");
    showHighlight();
}

void QuickReplyButton::showHighlight() {
    if (auto index = m_picker.highlighted()) {
        if (auto* row = m_list.get_row_at_index(static_cast<int>(*index))) {
            m_list.select_row(*row);
            return;
        }
    }
    m_list.unselect_all();
}

void QuickReplyButton::showState() {
    m_spinner.set_visible(m_picker.busy());
    m_spinner.set_spinning(m_picker.busy());
    m_error.set_text(m_picker.errorMessage());
    m_error.set_visible(!m_picker.errorMessage().empty());
    // Ctrl+Shift+1…9 work with the list closed; a phrase they could not put in is said in the
    // list, opened for it, rather than not at all.
    if (!m_picker.errorMessage().empty() && !m_popover.get_visible() && get_mapped()) {
        m_openingForError = true;
        m_picker.setQuery("");
        m_popover.popup();
    }
}

void addQuickReplyShortcuts(Gtk::Widget& target, QuickReplyPicker& picker,
                            std::function<bool()> locked) {
    auto keys = Gtk::EventControllerKey::create();
    // Captured on the way down, so that they work while a page has the keyboard too.
    keys->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
    keys->signal_key_pressed().connect(
        [&target, &picker, locked = std::move(locked)](guint, guint keycode,
                                                       Gdk::ModifierType state) {
            const auto both = Gdk::ModifierType::CONTROL_MASK | Gdk::ModifierType::SHIFT_MASK;
            if ((state & (both | Gdk::ModifierType::ALT_MASK)) != both || locked())
                return false;
            // Shift turns the digit into another character on most layouts: read the key's
            // unshifted character instead.
            guint digit = 0;
            if (!gdk_display_translate_key(target.get_display()->gobj(), keycode,
                                           GdkModifierType(0), 0, &digit, nullptr, nullptr,
                                           nullptr) ||
                digit < GDK_KEY_1 || digit > GDK_KEY_9)
                return false;
            return picker.pickNumbered(static_cast<int>(digit - GDK_KEY_0));
        },
        false);
    target.add_controller(keys);
}

} // namespace aurelo

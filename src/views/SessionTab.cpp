#include "views/SessionTab.hpp"

#include "viewmodels/PageZoom.hpp"
#include "views/PlatformIcon.hpp"

#include "views/WidgetHelpers.hpp"

#include <giomm/menu.h>
#include <gtkmm/dragsource.h>
#include <glibmm/main.h>
#include <gtkmm/eventcontrollerfocus.h>
#include <gtkmm/droptarget.h>
#include <gtkmm/gestureclick.h>
#include <gtkmm/gesturelongpress.h>
#include <gtkmm/overlay.h>
#include <gtkmm/shortcutcontroller.h>

namespace aurelo {

namespace {

std::string symbolOf(const ChatSession& session, const std::vector<ChatSession>& sessions) {
    const std::string key = platformKey(session);
    for (const auto& platform : enabledPlatforms(sessions))
        if (platform.id == key)
            return platform.icon;
    return "globe";
}

// Calls `visit` on `widget` and every widget under it.
void forEachDescendant(Gtk::Widget& widget, const std::function<void(Gtk::Widget&)>& visit) {
    visit(widget);
    for (auto* child = widget.get_first_child(); child; child = child->get_next_sibling())
        forEachDescendant(*child, visit);
}

} // namespace

SessionTab::SessionTab(ContentViewModel& model, LogoCache& logos, const ChatSession& session,
                       bool selected)
    : Gtk::Box(Gtk::Orientation::HORIZONTAL, 4), m_model(model), m_session(session) {
    add_css_class("aurelo-tab");
    if (selected)
        add_css_class("selected");

    auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 7);
    auto* iconOverlay = Gtk::make_managed<Gtk::Overlay>();
    auto* icon = Gtk::make_managed<PlatformIcon>(logos, platformLogoURL(session),
                                                 symbolOf(session, model.store().sessions()), 22);
    iconOverlay->set_child(*icon);
    m_badge.add_css_class("aurelo-badge");
    m_badge.set_halign(Gtk::Align::END);
    m_badge.set_valign(Gtk::Align::START);
    iconOverlay->add_overlay(m_badge);
    iconOverlay->set_clip_overlay(m_badge, false);
    refreshBadge();
    auto* name = Gtk::make_managed<Gtk::Label>(session.name);
    name->add_css_class("aurelo-tab-name");
    name->set_single_line_mode(true);
    // A name as long as the rule allows, or a longer one stored before there was a rule, would
    // make the tab so wide that the tabs after it wrap into rows the collapsed bar does not show.
    name->set_ellipsize(Pango::EllipsizeMode::END);
    name->set_max_width_chars(kNameWidthChars);
    row->append(*iconOverlay);
    row->append(*name);
    if (m_model.hibernation().isHibernated(session.id)) {
        auto* sleeping = Gtk::make_managed<Gtk::Label>(AccountHibernation::kHibernatedLabel);
        sleeping->add_css_class("dim-label");
        sleeping->add_css_class("caption");
        row->append(*sleeping);
    }
    const auto memoryNote = m_model.memory().tabNote(session.id);
    if (memoryNote) {
        auto* note = Gtk::make_managed<Gtk::Label>(*memoryNote);
        note->add_css_class("aurelo-memory-note");
        note->add_css_class("caption");
        row->append(*note);
    }
    const bool asleep = m_model.hibernation().isHibernated(session.id);
    // The page's health: a dot unless all is well, and a line in the tooltip.
    const PageHealth health = m_model.health().health(session.id);
    if (!asleep && (health.state != PageHealthState::Healthy || health.recovering)) {
        auto* dot = Gtk::make_managed<Gtk::Label>("●");
        dot->add_css_class("aurelo-health-dot");
        dot->add_css_class(health.state == PageHealthState::LoggedOut ? "warning" : "error");
        row->append(*dot);
        if (health.recovering) {
            auto* recovering = Gtk::make_managed<Gtk::Label>("正在恢复");
            recovering->add_css_class("dim-label");
            recovering->add_css_class("caption");
            row->append(*recovering);
        }
    }
    m_button.set_tooltip_text(asleep ? Glib::ustring(AccountHibernation::kHibernatedLabel)
                                     : Glib::ustring(m_model.health().tooltipLine(session.id)));
    m_button.set_child(*row);
    m_button.set_has_frame(false);
    setAccessibleLabel(m_button, Glib::ustring(session.name) + "，" +
                                     (asleep ? std::string(AccountHibernation::kHibernatedLabel)
                                             : std::string(PageHealth::label(health.state)) +
                                                   (health.recovering ? "，正在恢复" : "")) +
                                     (memoryNote ? "，" + *memoryNote : std::string()));
    m_button.signal_clicked().connect([this] { m_model.selectTab(m_session.id); });
    append(m_button);

    auto* close = Gtk::make_managed<Gtk::Button>();
    close->set_icon_name("window-close-symbolic");
    close->set_has_frame(false);
    close->add_css_class("aurelo-tab-close");
    close->set_valign(Gtk::Align::CENTER);
    close->set_tooltip_text("删除此多开页面");
    setAccessibleLabel(*close, Glib::ustring("删除此多开页面"));
    close->signal_clicked().connect([this] { m_model.askToDelete(m_session); });
    append(*close);

    // Dragging carries the session id as text; a drop must carry one too.
    auto source = Gtk::DragSource::create();
    source->set_actions(Gdk::DragAction::MOVE);
    source->signal_prepare().connect(
        [id = m_session.id](double, double) {
            Glib::Value<Glib::ustring> value;
            value.init(value.value_type());
            value.set(id);
            return Gdk::ContentProvider::create(value);
        },
        false);
    m_button.add_controller(source);
    auto target =
        Gtk::DropTarget::create(Glib::Value<Glib::ustring>::value_type(), Gdk::DragAction::MOVE);
    target->signal_drop().connect(
        [this](const Glib::ValueBase& value, double, double) {
            if (!G_VALUE_HOLDS_STRING(value.gobj()))
                return false;
            const char* text = g_value_get_string(value.gobj());
            return acceptDrop(text ? text : "");
        },
        false);
    add_controller(target);

    buildContextMenu();
}

SessionTab::~SessionTab() {
    m_menu.unparent();
}

void SessionTab::refreshBadge() {
    const auto badge = m_model.tabBadgeText(m_session.id);
    m_badge.set_text(badge.value_or(""));
    m_badge.set_visible(badge.has_value());
}

void SessionTab::popupMenu(std::optional<Gdk::Rectangle> where) {
    if (!where) {
        // From the keyboard: under the tab, as a menu button's menu opens.
        const int width = get_width(), height = get_height();
        where = Gdk::Rectangle(width / 2, height, 1, 1);
        m_menu.set_position(Gtk::PositionType::BOTTOM);
    }
    m_menu.set_pointing_to(*where);
    m_menu.popup();
}

bool SessionTab::acceptDrop(const Glib::ustring& text) {
    return m_model.moveTab(text, m_session.id);
}

void SessionTab::markDeleteItemWhileFocused() {
    // The menu marks the item the arrow keys are on as selected. The delete button is ours, not
    // one of the menu's items, so arrowing onto it left the item before it marked while Return
    // deleted the account. The button takes the mark while it has the focus, and gives it back
    // to the item the focus moves to.
    auto focus = Gtk::EventControllerFocus::create();
    focus->signal_enter().connect([this] {
        forEachDescendant(m_menu, [](Gtk::Widget& widget) {
            widget.unset_state_flags(Gtk::StateFlags::SELECTED);
        });
        m_deleteItem.set_state_flags(Gtk::StateFlags::SELECTED, false);
    });
    focus->signal_leave().connect([this] {
        m_deleteItem.unset_state_flags(Gtk::StateFlags::SELECTED);
        // The new focus is known once the move is over; the slot goes with the tab.
        Glib::signal_idle().connect_once(sigc::mem_fun(*this, &SessionTab::markFocusedItem));
    });
    m_deleteItem.add_controller(focus);
}

void SessionTab::markFocusedItem() {
    auto* root = m_menu.get_root();
    for (auto* item = root ? root->get_focus() : nullptr; item; item = item->get_parent()) {
        if (item == &m_menu)
            return;
        if (G_OBJECT_TYPE_NAME(item->gobj()) == std::string_view("GtkModelButton")) {
            item->set_state_flags(Gtk::StateFlags::SELECTED, false);
            return;
        }
    }
}

void SessionTab::buildContextMenu() {
    m_actions = Gio::SimpleActionGroup::create();
    const std::string id = m_session.id;
    ContentViewModel& model = m_model;
    ChatSession session = m_session;
    m_actions->add_action("reload", [&model, id] { model.selectAndReload(id); });
    m_actions->add_action("translate-page", [&model, id] { model.translateWholePage(id); });
    m_actions->add_action("restore-page", [&model, id] { model.restoreWholePage(id); });
    m_actions->add_action("zoom-in", [&model] { model.zoomIn(); });
    m_actions->add_action("zoom-out", [&model] { model.zoomOut(); });
    m_actions->add_action("zoom-reset", [&model] { model.resetZoom(); });
    m_actions->add_action("rename", [&model, id] { model.beginRename(id); });
    m_actions->add_action("hibernate", [&model, id] { model.hibernation().hibernateNow(id); });
    m_actions->add_action("session-settings", [&model, id] {
        model.selectTab(id);
        model.sessionSettingsForm().begin();
    });
    m_actions->add_action("delete", [&model, session] { model.deleteNow(session); });
    insert_action_group("tab", m_actions);

    auto menu = Gio::Menu::create();
    auto section = [&menu](std::initializer_list<std::pair<Glib::ustring, Glib::ustring>> items) {
        auto part = Gio::Menu::create();
        for (const auto& [label, action] : items)
            part->append(label, action);
        menu->append_section(part);
    };
    section({{"刷新此页面", "tab.reload"}, {"立即休眠", "tab.hibernate"}});
    section({{"翻译整个网页为中文", "tab.translate-page"}, {"显示网页原文", "tab.restore-page"}});
    section({{"放大页面（" + m_model.nextZoomLabel(PageZoom::kStep) + "）", "tab.zoom-in"},
             {"缩小页面（" + m_model.nextZoomLabel(-PageZoom::kStep) + "）", "tab.zoom-out"},
             {"恢复实际大小（100%）", "tab.zoom-reset"}});
    section({{"修改名称", "tab.rename"}, {"账号独立设置", "tab.session-settings"}});
    // A menu model cannot style one item, so the item that deletes at once is a button of our
    // own in the menu's last section, marked destructive like the delete buttons elsewhere.
    auto last = Gio::Menu::create();
    auto deleteItem = Gio::MenuItem::create("删除此会话", "");
    deleteItem->set_attribute_value("custom", Glib::Variant<Glib::ustring>::create("delete"));
    last->append_item(deleteItem);
    menu->append_section(last);
    m_menu.set_menu_model(menu);
    m_deleteItem.set_label("删除此会话");
    m_deleteItem.set_has_frame(false);
    m_deleteItem.add_css_class("destructive-action");
    m_deleteItem.add_css_class("aurelo-menu-destructive");
    m_deleteItem.set_halign(Gtk::Align::FILL);
    if (auto* label = dynamic_cast<Gtk::Label*>(m_deleteItem.get_child()))
        label->set_xalign(0);
    m_deleteItem.signal_clicked().connect([this] {
        m_menu.popdown();
        m_actions->activate_action("delete");
    });
    markDeleteItemWhileFocused();
    m_menu.add_child(m_deleteItem, "delete");
    m_menu.set_parent(*this);
    m_menu.set_has_arrow(false);

    auto click = Gtk::GestureClick::create();
    click->set_button(GDK_BUTTON_SECONDARY);
    click->signal_pressed().connect(
        [this](int, double x, double y) { popupMenu(Gdk::Rectangle(int(x), int(y), 1, 1)); });
    add_controller(click);

    // A long press (a touch screen has no right button) opens the menu instead of selecting:
    // the press is claimed before the tab's own click sees its release.
    auto longPress = Gtk::GestureLongPress::create();
    longPress->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
    longPress->signal_pressed().connect([this, gesture = longPress.get()](double x, double y) {
        gesture->set_state(Gtk::EventSequenceState::CLAIMED);
        popupMenu(Gdk::Rectangle(int(x), int(y), 1, 1));
    });
    add_controller(longPress);

    // The keys a desktop opens a context menu with, on the focused tab.
    auto keys = Gtk::ShortcutController::create();
    keys->add_shortcut(Gtk::Shortcut::create(
        Gtk::ShortcutTrigger::parse_string("Menu|<Shift>F10"),
        Gtk::CallbackAction::create([this](Gtk::Widget&, const Glib::VariantBase&) {
            popupMenu();
            return true;
        })));
    add_controller(keys);
}

} // namespace aurelo

#include "views/WidgetHelpers.hpp"

namespace aurelo {

namespace {

void activateCallback(GtkPasswordEntry*, gpointer data) {
    (*static_cast<std::function<void()>*>(data))();
}

void deleteHandlerCallback(gpointer data, GClosure*) {
    delete static_cast<std::function<void()>*>(data);
}

} // namespace

void setAccessibleLabel(Gtk::Widget& widget, const Glib::ustring& label) {
    Glib::Value<Glib::ustring> value;
    value.init(value.value_type());
    value.set(label);
    widget.update_property(Gtk::Accessible::Property::LABEL, value);
}

void onPasswordActivate(Gtk::PasswordEntry& entry, std::function<void()> handler) {
    g_signal_connect_data(entry.gobj(), "activate", G_CALLBACK(activateCallback),
                          new std::function<void()>(std::move(handler)), deleteHandlerCallback,
                          GConnectFlags(0));
}

} // namespace aurelo

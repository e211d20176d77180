#pragma once

#include <gtkmm/layoutmanager.h>

namespace aurelo {

// Lays the account tabs out in left-aligned rows that wrap, each tab at its natural size. The
// arithmetic is TabFlow's; this class only measures and allocates the widgets.
class AccountTabFlowLayout : public Gtk::LayoutManager {
public:
    static Glib::RefPtr<AccountTabFlowLayout> create(double spacing = 7);

    double spacing() const { return m_spacing; }

protected:
    explicit AccountTabFlowLayout(double spacing);

    Gtk::SizeRequestMode get_request_mode_vfunc(const Gtk::Widget& widget) const override;
    void measure_vfunc(const Gtk::Widget& widget, Gtk::Orientation orientation, int forSize,
                       int& minimum, int& natural, int& minimumBaseline,
                       int& naturalBaseline) const override;
    void allocate_vfunc(const Gtk::Widget& widget, int width, int height, int baseline) override;

private:
    double m_spacing;
};

} // namespace aurelo

#include "views/AccountTabFlowLayout.hpp"

#include "viewmodels/TabFlow.hpp"

#include <gtkmm/widget.h>

#include <cmath>
#include <vector>

namespace aurelo {

namespace {

// The ideal size of every visible child: its natural width, and its natural height at that width.
std::vector<std::pair<const Gtk::Widget*, TabSize>> idealSizes(const Gtk::Widget& widget) {
    std::vector<std::pair<const Gtk::Widget*, TabSize>> sizes;
    for (const Gtk::Widget* child = widget.get_first_child(); child;
         child = child->get_next_sibling()) {
        if (!child->should_layout())
            continue;
        int minimum = 0, natural = 0, ignored = 0;
        child->measure(Gtk::Orientation::HORIZONTAL, -1, minimum, natural, ignored, ignored);
        const int width = natural;
        child->measure(Gtk::Orientation::VERTICAL, width, minimum, natural, ignored, ignored);
        sizes.push_back({child, TabSize{double(width), double(natural)}});
    }
    return sizes;
}

std::vector<TabSize> onlySizes(const std::vector<std::pair<const Gtk::Widget*, TabSize>>& sizes) {
    std::vector<TabSize> result;
    result.reserve(sizes.size());
    for (const auto& [child, size] : sizes)
        result.push_back(size);
    return result;
}

} // namespace

AccountTabFlowLayout::AccountTabFlowLayout(double spacing)
    : Glib::ObjectBase("AureloAccountTabFlowLayout"), m_spacing(spacing) {}

Glib::RefPtr<AccountTabFlowLayout> AccountTabFlowLayout::create(double spacing) {
    return Glib::make_refptr_for_instance(new AccountTabFlowLayout(spacing));
}

Gtk::SizeRequestMode AccountTabFlowLayout::get_request_mode_vfunc(const Gtk::Widget&) const {
    return Gtk::SizeRequestMode::HEIGHT_FOR_WIDTH;
}

void AccountTabFlowLayout::measure_vfunc(const Gtk::Widget& widget, Gtk::Orientation orientation,
                                         int forSize, int& minimum, int& natural,
                                         int& minimumBaseline, int& naturalBaseline) const {
    minimumBaseline = naturalBaseline = -1;
    const auto tabs = onlySizes(idealSizes(widget));
    if (orientation == Gtk::Orientation::HORIZONTAL) {
        // Any width will do: a tab wider than the bar still gets a row of its own.
        minimum = 0;
        natural = int(std::ceil(measureTabFlow(tabs, std::nullopt, m_spacing).width));
        return;
    }
    std::optional<double> width;
    if (forSize >= 0)
        width = forSize;
    minimum = natural = int(std::ceil(measureTabFlow(tabs, width, m_spacing).height));
}

void AccountTabFlowLayout::allocate_vfunc(const Gtk::Widget& widget, int width, int, int) {
    const auto sizes = idealSizes(widget);
    const auto positions = placeTabFlow(onlySizes(sizes), 0, 0, width, m_spacing);
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const auto& [child, size] = sizes[i];
        Gtk::Allocation allocation(int(std::lround(positions[i].x)), int(std::lround(positions[i].y)),
                                   int(size.width), int(size.height));
        // GTK hands the layout a const parent; allocating a child is what a layout manager is for.
        const_cast<Gtk::Widget*>(child)->size_allocate(allocation, -1);
    }
}

} // namespace aurelo

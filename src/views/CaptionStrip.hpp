#pragma once

#include "captions/LiveCaptionManager.hpp"

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>

namespace aurelo {

// The live captions under the pages: the control that starts a run, and while one runs the
// recognised English, its Chinese and the status, with copy, clear and close.
class CaptionStrip : public Gtk::Box {
public:
    explicit CaptionStrip(LiveCaptionManager& manager);
    ~CaptionStrip() override;

private:
    void refresh();

    LiveCaptionManager& m_manager;
    Gtk::Box m_strip{Gtk::Orientation::VERTICAL, 4};
    Gtk::Label m_source;
    Gtk::Label m_translated;
    Gtk::Label m_status;
    Gtk::Button m_start{"实时字幕"};
    std::vector<sigc::connection> m_connections;
};

} // namespace aurelo

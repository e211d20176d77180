#pragma once

#include "captions/LiveCaptionManager.hpp"

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>

namespace aurelo {

// The live captions, docked beside the pages so that they take no page height: a header that
// says whether captions are running, clear, copy and close, and the recognised English above
// its Chinese. The control that starts a run is handed to the window's toolbar.
class CaptionStrip : public Gtk::Box {
public:
    static constexpr const char* kSourcePlaceholder = "识别到的英语会显示在这里";
    static constexpr const char* kTranslationPlaceholder = "中文译文会显示在这里";
    static constexpr int kWidth = 300;

    explicit CaptionStrip(LiveCaptionManager& manager);
    ~CaptionStrip() override;

    // "实时字幕": starts a run. Not a child of the strip; the owner places it.
    Gtk::Button& startButton() { return m_start; }

    Gtk::Label& title() { return m_title; }
    Gtk::Label& sourceText() { return m_source; }
    Gtk::Label& translatedText() { return m_translated; }

private:
    void refresh();
    // A labelled column whose text shows `placeholder` while it is empty.
    Gtk::Box* column(const Glib::ustring& caption, Gtk::Label& text);

    LiveCaptionManager& m_manager;
    Gtk::Label m_title;
    Gtk::Label m_status;
    Gtk::Label m_source;
    Gtk::Label m_translated;
    Gtk::Button m_start;
    std::vector<sigc::connection> m_connections;
};

} // namespace aurelo

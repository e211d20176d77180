#pragma once

#include <filesystem>

namespace aurelo {

// Shows `file` selected in the desktop's file manager through org.freedesktop.FileManager1
// ShowItems; when no file manager answers, opens the containing folder instead. Asynchronous:
// it never waits for the bus on the main loop.
void revealInFileManager(const std::filesystem::path& file);

} // namespace aurelo

#pragma once
// The pictures of the task dialogs, drawn with GDI when first asked for and kept for
// the life of the program (the test binary has no resources, so none come from there).
#include <windows.h>
#include <commctrl.h>

namespace vk::tasks {

// 16 x 16: 0 a yellow folder, 1 a yellow folder in a grey clamp, 2 two circular
// arrows (red and blue).
HIMAGELIST FolderImages();
// 13 x 13 tree state images: 0 and 1 an empty check box, 2 a ticked one.
HIMAGELIST CheckBoxImages();
// The task list dialog's 32 x 32 picture: a clipboard with ticked lines.
HBITMAP TaskListPicture();
// The picture on the archive name box's button: a small folder, 12 x 11, its bottom
// row in the see-through colour.
HBITMAP ArchiveButtonPicture();
// The settings dialog's 42 x 42 picture: a folder with a cog wheel.
HBITMAP SettingsPicture();

}  // namespace vk::tasks

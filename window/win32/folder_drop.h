#pragma once

#include <windows.h>

namespace vendrake::window {

// Lets a folder dragged from Explorer fill the edit box `box` it is dropped
// on: the box takes the folder's path or, for a file, the path of the folder
// holding it (the first item, when several are dragged). Nothing else
// happens: the run starts only with the button. A disabled box takes
// nothing. Drops from Explorer reach the box even when the program runs
// elevated. Called once, after the box is made.
void AcceptFolderDrops(HWND box);

}  // namespace vendrake::window

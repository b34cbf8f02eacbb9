#pragma once
// The version of the program and its two libraries, shared by their resource scripts
// and the code.
#define VK_VERSION_MAJOR 0
#define VK_VERSION_MINOR 2
// The fourth field of the binaries' file version: the number of the beta.
#define VK_VERSION_BUILD 4
// Also names the release packages, blanks turned into hyphens (scripts/package.sh).
#define VK_VERSION_TEXT "0.2 Beta 4"
#define VK_COPYRIGHT "Copyright © 1998 Jan Morrow"
#define VK_AUTHOR "Jan Morrow"
#define VK_COPYRIGHT_SHORT "© 1998 Jan Morrow"
#define VK_WEB_ADDRESS "http://morrow.de/vk"
#define VK_MAIL_ADDRESS "jan@morrow.de"

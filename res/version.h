#pragma once
// The program's version, shared by the resource script and the code.
#define VK_VERSION_MAJOR 0
#define VK_VERSION_MINOR 2
#define VK_VERSION_TEXT "0.2 Beta 4"
#define VK_COPYRIGHT "Copyright © 1998 Jan Morrow"
#define VK_AUTHOR "Jan Morrow"
#define VK_COPYRIGHT_SHORT "© 1998 Jan Morrow"
#define VK_WEB_ADDRESS "http://morrow.de/vk"
#define VK_MAIL_ADDRESS "jan@morrow.de"

#pragma once
// The program's message boxes. Captions are German whatever language Windows uses,
// and so are the confirmation box's buttons ("&Ja", "&Nein").
#include <string>

namespace vk::win {

void ShowError(const std::string& text);        // "Fehler", OK
void ShowInformation(const std::string& text);  // "Information", OK
bool Confirm(const std::string& text);          // "Bestätigen", "&Ja" / "&Nein": true for Ja
void ShowPlain(const std::string& text);        // the application's title, OK

}  // namespace vk::win

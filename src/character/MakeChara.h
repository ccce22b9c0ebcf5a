#pragma once
// A new character from nothing but a name: a character file of 1000 filler
// bytes in the home folder, stamped with its check header.
#include <QString>

namespace dm {

// Title of every refusal's message box.
inline constexpr const char16_t* kMakeCharaErrorTitle = u"作成ｴﾗｰ";

// Makes the character file for `name`. On success `path` receives its full
// path, `cancel` is false and the result is empty. On refusal `path` is
// untouched, `cancel` is true and the result is the message to show.
[[nodiscard]] QString MakeChara(const QString& name, QString& path, bool& cancel);

} // namespace dm

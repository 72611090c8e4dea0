#pragma once
// File names on Linux are bytes, not text: a name written on an old share in Latin-1
// ("caf\xE9.wav") is no valid UTF-8 and Qt's own conversions replace its odd byte with
// U+FFFD, so the file can be neither opened nor named again. Here every byte that is not
// part of valid UTF-8 is kept as the lone low surrogate U+DC80 + byte (the convention
// Python calls "surrogateescape"): such text survives QUrl::fromLocalFile/toLocalFile,
// QFileInfo and QDir unchanged, and turns back into exactly the bytes it came from.
// Every path that enters (arguments, drops) is decoded here, and every path that reaches
// the file system is encoded here.
#include <QByteArray>
#include <QString>
#include <QUrl>

#include <string>

namespace sonteva {

// The path's text: UTF-8 decoded, each undecodable byte escaped as above.
QString pathFromBytes(const QByteArray& bytes);
// The exact bytes `pathFromBytes` came from.
QByteArray bytesOfPath(const QString& path);
// `path` made absolute against the working folder, cleaned ("a/../b" is "b"), with its
// bytes kept (QFileInfo would pass a relative name through Qt's own, lossy, decoding).
QString absoluteLocalPath(const QString& path);
// The bytes of a local file URL's path, for open() and friends.
std::string localPath(const QUrl& url);
// A local file URL from elsewhere (a drop, a file panel) whose percent-encoded path is
// not UTF-8, rebuilt so that its bytes survive; any other URL unchanged.
QUrl withLocalBytes(const QUrl& url);

// For messages and JSON: each escaped byte as "\xE9" and each control character as
// "\x0A", so that a name is shown on one line and never mangled; everything else as is.
QString printablePath(const QString& path);
// The file name of a local URL, printable.
QString displayName(const QUrl& url);
// The whole local path of a URL, printable.
QString displayPath(const QUrl& url);
// A message that may hold a path: escaped bytes printable, line breaks kept.
QString printableText(const QString& text);

} // namespace sonteva

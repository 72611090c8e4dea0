#include "model/file_names.h"

#include <QDir>

#include <unistd.h>

#include <climits>

namespace sonteva {

namespace {

constexpr char16_t kEscapeBase = 0xDC00; // + the byte (0x80...0xFF)

bool isEscapedByte(char16_t unit) {
    return unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF;
}

// The length of the valid UTF-8 sequence at `at` (RFC 3629: no overlong forms, no
// surrogates, nothing past U+10FFFF), or 0.
int sequenceLength(const unsigned char* s, qsizetype left, char32_t& code) {
    const unsigned char lead = s[0];
    int length = 0;
    char32_t min = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2, code = lead & 0x1F, min = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3, code = lead & 0x0F, min = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4, code = lead & 0x07, min = 0x10000;
    else
        return 0;
    if (left < length) return 0;
    for (int k = 1; k < length; ++k) {
        if ((s[k] & 0xC0) != 0x80) return 0;
        code = (code << 6) | (s[k] & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

void appendUtf8(QByteArray& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

QString hexEscape(unsigned value) {
    return QStringLiteral("\\x") +
           QString::number(value, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

QString escaped(const QString& text, bool keepLineBreaks) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        const bool pair = QChar::isHighSurrogate(unit) && i + 1 < text.size() &&
                          QChar::isLowSurrogate(text[i + 1].unicode());
        if (pair) {
            out += text[i];
            out += text[++i];
        } else if (isEscapedByte(unit)) {
            out += hexEscape(unit - kEscapeBase);
        } else if (QChar::isSurrogate(unit)) {
            out += QStringLiteral("\\u") +
                   QString::number(unit, 16).toUpper().rightJustified(4, QLatin1Char('0'));
        } else if ((unit < 0x20 || unit == 0x7F) && !(keepLineBreaks && unit == u'\n')) {
            out += hexEscape(unit);
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

QString pathFromBytes(const QByteArray& bytes) {
    QString out;
    out.reserve(bytes.size());
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.constData());
    for (qsizetype i = 0; i < bytes.size();) {
        if (s[i] < 0x80) {
            out += QChar(static_cast<char16_t>(s[i++]));
            continue;
        }
        char32_t code = 0;
        if (const int n = sequenceLength(s + i, bytes.size() - i, code); n > 0) {
            out += QString::fromUcs4(&code, 1);
            i += n;
        } else {
            out += QChar(static_cast<char16_t>(kEscapeBase + s[i++]));
        }
    }
    return out;
}

QByteArray bytesOfPath(const QString& path) {
    QByteArray out;
    out.reserve(path.size());
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t unit = path[i].unicode();
        if (isEscapedByte(unit)) {
            out += static_cast<char>(unit - kEscapeBase);
        } else if (QChar::isHighSurrogate(unit) && i + 1 < path.size() &&
                   QChar::isLowSurrogate(path[i + 1].unicode())) {
            appendUtf8(out, QChar::surrogateToUcs4(unit, path[i + 1].unicode()));
            ++i;
        } else if (QChar::isSurrogate(unit)) {
            appendUtf8(out, 0xFFFD); // no byte leads here
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

QString absoluteLocalPath(const QString& path) {
    if (path.startsWith(QLatin1Char('/'))) return QDir::cleanPath(path);
    char buffer[PATH_MAX];
    const QString here =
        ::getcwd(buffer, sizeof buffer) ? pathFromBytes(QByteArray(buffer)) : QDir::currentPath();
    return QDir::cleanPath(here + QLatin1Char('/') + path);
}

std::string localPath(const QUrl& url) {
    return bytesOfPath(url.toLocalFile()).toStdString();
}

QUrl withLocalBytes(const QUrl& url) {
    // Qt decodes a percent-encoded byte that is no UTF-8 to U+FFFD; the encoded form still
    // holds the byte.
    if (!url.isLocalFile() || !url.toLocalFile().contains(QChar::ReplacementCharacter)) return url;
    const QByteArray bytes =
        QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    return QUrl::fromLocalFile(pathFromBytes(bytes));
}

QString printablePath(const QString& path) {
    return escaped(path, false);
}

QString displayName(const QUrl& url) {
    return printablePath(url.fileName());
}

QString displayPath(const QUrl& url) {
    return printablePath(url.toLocalFile());
}

QString printableText(const QString& text) {
    return escaped(text, true);
}

} // namespace sonteva

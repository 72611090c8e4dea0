#include "batch/catalogue.h"

#include <QRegularExpression>
#include <QStringDecoder>

#include <algorithm>
#include <numeric>

namespace sonteva {

namespace {

bool isBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r');
}

// An accepted key in its canonical spelling, or nothing.
std::optional<QString> canonicalKey(const QString& key) {
    const QString lower = key.toLower();
    if (lower == QLatin1String("output-dir")) return QStringLiteral("out");
    if (manifestKeys().contains(lower)) return lower;
    return std::nullopt;
}

// Reads the `key=value` settings after the source; throws the problem's text.
std::vector<std::pair<QString, QString>> parseSettings(const QString& text) {
    std::vector<std::pair<QString, QString>> settings;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (true) {
        while (i < n && isBlank(text[i]))
            ++i;
        if (i >= n || text[i] == QLatin1Char('#')) return settings; // the rest is a comment
        const qsizetype keyStart = i;
        while (i < n && text[i] != QLatin1Char('=') && !isBlank(text[i]))
            ++i;
        const QString key = text.mid(keyStart, i - keyStart);
        if (i >= n || text[i] != QLatin1Char('='))
            throw QStringLiteral("\"%1\" is not a key=value setting").arg(key);
        const auto canonical = canonicalKey(key);
        if (!canonical)
            throw QStringLiteral("unknown setting \"%1\" (accepted: %2)")
                .arg(key, manifestKeys().join(QStringLiteral(", ")));
        for (const auto& [seen, value] : settings)
            if (seen == *canonical) throw QStringLiteral("\"%1\" is set twice").arg(*canonical);
        ++i; // '='
        QString value;
        if (i < n && text[i] == QLatin1Char('"')) {
            ++i;
            bool closed = false;
            while (i < n && !closed) {
                const QChar c = text[i++];
                if (c == QLatin1Char('\\') && i < n &&
                    (text[i] == QLatin1Char('"') || text[i] == QLatin1Char('\\')))
                    value += text[i++];
                else if (c == QLatin1Char('"'))
                    closed = true;
                else
                    value += c;
            }
            if (!closed) throw QStringLiteral("the quoted value of \"%1\" is not closed").arg(key);
            if (i < n && !isBlank(text[i]))
                throw QStringLiteral("the quoted value of \"%1\" is followed by \"%2\" without a "
                                     "space")
                    .arg(key, text.mid(i).section(QLatin1Char(' '), 0, 0));
        } else {
            while (i < n && !isBlank(text[i])) {
                if (text[i] == QLatin1Char('"'))
                    throw QStringLiteral("the value of \"%1\" has a stray quote: quote the whole "
                                         "value")
                        .arg(key);
                value += text[i++];
            }
            if (value.isEmpty())
                throw QStringLiteral("\"%1\" has no value (write %1=\"\" for an empty one)")
                    .arg(key);
        }
        settings.emplace_back(*canonical, value);
    }
}

// A line without a tab whose text reads like settings was most likely meant to have one.
bool looksLikeSettings(const QString& line) {
    for (const QString& word : line.split(QLatin1Char(' '), Qt::SkipEmptyParts).mid(1)) {
        const qsizetype eq = word.indexOf(QLatin1Char('='));
        if (eq > 0 && canonicalKey(word.left(eq))) return true;
    }
    return false;
}

CatalogueEntry parseLine(const QString& line, int number) {
    CatalogueEntry entry;
    entry.line = number;
    const qsizetype tab = line.indexOf(QLatin1Char('\t'));
    entry.source = (tab < 0 ? line : line.left(tab)).trimmed();
    if (entry.source.isEmpty()) throw QStringLiteral("no source path before the settings");
    if (tab < 0 && looksLikeSettings(line))
        throw QStringLiteral("settings must follow the source path after a tab");
    if (tab >= 0) entry.settings = parseSettings(line.mid(tab + 1));
    return entry;
}

// The byte order of the UTF-8 forms, the same on every machine and in every locale.
QByteArray orderKey(const CatalogueEntry& e) {
    auto settings = e.settings;
    std::sort(settings.begin(), settings.end());
    QByteArray key = e.source.toUtf8();
    for (const auto& [name, value] : settings)
        key += '\0' + name.toUtf8() + '=' + value.toUtf8();
    return key;
}

} // namespace

const QString* CatalogueEntry::setting(const QString& key) const {
    for (const auto& [name, value] : settings)
        if (name == key) return &value;
    return nullptr;
}

const QStringList& manifestKeys() {
    static const QStringList keys{QStringLiteral("preset"),  QStringLiteral("rate"),
                                  QStringLiteral("bits"),    QStringLiteral("algorithm"),
                                  QStringLiteral("dither"),  QStringLiteral("format"),
                                  QStringLiteral("postfix"), QStringLiteral("out"),
                                  QStringLiteral("strict"),  QStringLiteral("compensate-delay")};
    return keys;
}

std::vector<CatalogueEntry> parseManifest(const QByteArray& text,
                                          std::vector<ManifestProblem>& problems) {
    std::vector<CatalogueEntry> entries;
    QByteArrayView rest(text);
    if (rest.startsWith("\xEF\xBB\xBF")) rest = rest.sliced(3); // a byte-order mark
    int number = 0;
    while (!rest.isEmpty()) {
        ++number;
        const qsizetype end = rest.indexOf('\n');
        const QByteArrayView bytes = end < 0 ? rest : rest.first(end);
        rest = end < 0 ? QByteArrayView() : rest.sliced(end + 1);
        if (bytes.contains('\0')) {
            problems.push_back({number, QStringLiteral("the line holds a NUL byte")});
            continue;
        }
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString line = utf8(bytes);
        if (utf8.hasError()) {
            problems.push_back({number, QStringLiteral("the line is not valid UTF-8")});
            continue;
        }
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#'))) continue;
        try {
            entries.push_back(parseLine(line, number));
        } catch (const QString& problem) {
            problems.push_back({number, problem});
        }
    }
    return entries;
}

std::optional<Shard> parseShard(const QString& text, QString& why) {
    static const QRegularExpression form(QStringLiteral("^([0-9]{1,9})/([0-9]{1,9})$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch()) {
        why = QStringLiteral("invalid shard \"%1\": expected K/N, this task's number K from 0 "
                             "to N-1 and the number of tasks N (e.g. 0/4)")
                  .arg(text);
        return std::nullopt;
    }
    Shard shard{m.captured(1).toInt(), m.captured(2).toInt()};
    if (shard.count < 1) {
        why = QStringLiteral("invalid shard \"%1\": the number of tasks must be at least 1")
                  .arg(text);
        return std::nullopt;
    }
    if (shard.index >= shard.count) {
        why = QStringLiteral("invalid shard \"%1\": K counts from 0, so it must be below N "
                             "(0 to %2)")
                  .arg(text)
                  .arg(shard.count - 1);
        return std::nullopt;
    }
    return shard;
}

std::vector<size_t> jobOrder(const std::vector<CatalogueEntry>& entries) {
    std::vector<QByteArray> keys;
    keys.reserve(entries.size());
    for (const CatalogueEntry& e : entries)
        keys.push_back(orderKey(e));
    std::vector<size_t> order(entries.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const int c = keys[a].compare(keys[b]); // bytewise, not by locale
        return c != 0 ? c < 0 : entries[a].line < entries[b].line;
    });
    order.erase(std::unique(order.begin(), order.end(),
                            [&](size_t a, size_t b) { return keys[a] == keys[b]; }),
                order.end());
    return order;
}

std::vector<size_t> shardOf(const std::vector<CatalogueEntry>& entries, Shard shard) {
    const std::vector<size_t> order = jobOrder(entries);
    std::vector<size_t> mine;
    for (size_t i = static_cast<size_t>(shard.index); i < order.size();
         i += static_cast<size_t>(shard.count))
        mine.push_back(order[i]);
    return mine;
}

} // namespace sonteva

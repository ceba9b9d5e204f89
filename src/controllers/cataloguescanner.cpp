#include "controllers/cataloguescanner.h"

#include <QVersionNumber>

#include <algorithm>
#include <cstring>

namespace KOV::Controllers {

using Models::Package;
using Models::PackageVersion;

namespace {

// As deep as QJsonDocument goes.
constexpr int nestingLimit = 1024;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// One UTF-8 character at `p`, as QJsonDocument takes it: no overlong forms, no surrogates, nothing past
// U+10FFFF. Returns its length, 0 when it is not valid.
int utf8Length(const uchar *p, const uchar *end)
{
    const uchar c = p[0];
    int length;
    uint code;
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
        code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        code = c & 0x07;
    } else {
        return 0;
    }
    if (end - p < length)
        return 0;
    for (int i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (p[i] & 0x3F);
    }
    if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF))
        || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The UTF-16 unit an escape after a backslash stands for; `p` moves past it. -1 when it is broken.
int unescape(const char **p, const char *end)
{
    const char escaped = *(*p)++;
    switch (escaped) {
    case 'b':
        return 0x08;
    case 'f':
        return 0x0C;
    case 'n':
        return 0x0A;
    case 'r':
        return 0x0D;
    case 't':
        return 0x09;
    case 'u': {
        if (end - *p < 4)
            return -1;
        int unit = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = hexValue(*(*p)++);
            if (digit < 0)
                return -1;
            unit = unit * 16 + digit;
        }
        return unit;
    }
    default:
        // '"', '\\', '/' and, leniently, any other byte stand for themselves.
        return uchar(escaped);
    }
}

} // namespace

CatalogueScanner::CatalogueScanner(const QByteArray &document, const QString &language)
    : m_begin(document.constData())
    , m_pos(document.constData())
    , m_end(document.constData() + document.size())
    , m_language(language)
{
}

bool CatalogueScanner::fail(const char *problem)
{
    if (m_error.isEmpty())
        m_error = QStringLiteral("%1 at offset %2").arg(QLatin1String(problem)).arg(m_pos - m_begin);
    return false;
}

void CatalogueScanner::skipSpace()
{
    // Indented catalogues are mostly runs of spaces: eight at a time, then byte by byte.
    while (m_pos < m_end && isSpace(*m_pos)) {
        ++m_pos;
        while (m_end - m_pos >= 8 && std::memcmp(m_pos, "        ", 8) == 0)
            m_pos += 8;
    }
}

bool CatalogueScanner::enter()
{
    if (++m_depth > nestingLimit)
        return fail("too deeply nested document");
    return true;
}

bool CatalogueScanner::read(QVector<QSharedPointer<Package>> *packages, QString *error)
{
    if (m_end - m_pos > 3 && std::memcmp(m_pos, "\xEF\xBB\xBF", 3) == 0)
        m_pos += 3;
    skipSpace();
    QVector<QSharedPointer<Package>> read;
    bool ok;
    if (!atEnd() && *m_pos == '[') {
        ok = readArray([&] {
            if (*m_pos != '{')
                return skipValue();
            QSharedPointer<Package> package;
            if (!readPackage(&package))
                return false;
            if (package)
                read.append(package);
            return true;
        });
    } else if (!atEnd() && *m_pos == '{') {
        // A JSON document, but not a list of packages.
        ok = skipValue();
        if (ok)
            m_error = QStringLiteral("not a list of packages");
        ok = false;
    } else {
        ok = fail("illegal value");
    }
    if (ok) {
        skipSpace();
        if (!atEnd())
            ok = fail("garbage at the end of the document");
    }
    if (!ok) {
        *error = m_error;
        return false;
    }
    *packages = read;
    return true;
}

template<typename Member> bool CatalogueScanner::readObject(Member member)
{
    if (!enter())
        return false;
    ++m_pos; // '{'
    skipSpace();
    if (!atEnd() && *m_pos == '}') {
        ++m_pos;
        leave();
        return true;
    }
    for (;;) {
        if (atEnd() || *m_pos != '"')
            return fail("unterminated object");
        Key key;
        if (!readKey(&key))
            return false;
        skipSpace();
        if (atEnd() || *m_pos != ':')
            return fail("missing name separator");
        ++m_pos;
        skipSpace();
        if (atEnd())
            return fail("unterminated object");
        if (!member(key))
            return false;
        skipSpace();
        if (atEnd())
            return fail("unterminated object");
        if (*m_pos == '}') {
            ++m_pos;
            leave();
            return true;
        }
        if (*m_pos != ',')
            return fail("unterminated object");
        ++m_pos;
        skipSpace();
    }
}

template<typename Element> bool CatalogueScanner::readArray(Element element)
{
    if (!enter())
        return false;
    ++m_pos; // '['
    skipSpace();
    if (!atEnd() && *m_pos == ']') {
        ++m_pos;
        leave();
        return true;
    }
    for (;;) {
        if (atEnd())
            return fail("unterminated array");
        if (*m_pos == ']')
            return fail("value is missing after a comma");
        if (!element())
            return false;
        skipSpace();
        if (atEnd())
            return fail("unterminated array");
        if (*m_pos == ']') {
            ++m_pos;
            leave();
            return true;
        }
        if (*m_pos != ',')
            return fail("missing value separator");
        ++m_pos;
        skipSpace();
    }
}

bool CatalogueScanner::skipValue()
{
    switch (*m_pos) {
    case '{':
        return readObject([this](const Key &) { return skipValue(); });
    case '[':
        return readArray([this] { return skipValue(); });
    case '"':
        return skipString();
    case 't':
        return readLiteral("true", 4);
    case 'f':
        return readLiteral("false", 5);
    case 'n':
        return readLiteral("null", 4);
    default: {
        double value;
        return readNumber(&value);
    }
    }
}

bool CatalogueScanner::readLiteral(const char *literal, int size)
{
    if (m_end - m_pos < size || std::memcmp(m_pos, literal, size) != 0)
        return fail("illegal value");
    m_pos += size;
    return true;
}

bool CatalogueScanner::readNumber(double *value)
{
    // The same shape QJsonDocument takes, lenient about "1." and ".5"; the text itself decides then.
    const char *start = m_pos;
    bool isInteger = true;
    if (m_pos < m_end && *m_pos == '-')
        ++m_pos;
    if (m_pos < m_end && *m_pos == '0') {
        ++m_pos;
    } else {
        while (m_pos < m_end && *m_pos >= '0' && *m_pos <= '9')
            ++m_pos;
    }
    if (m_pos < m_end && *m_pos == '.') {
        isInteger = false;
        ++m_pos;
        while (m_pos < m_end && *m_pos >= '0' && *m_pos <= '9')
            ++m_pos;
    }
    if (m_pos < m_end && (*m_pos == 'e' || *m_pos == 'E')) {
        isInteger = false;
        ++m_pos;
        if (m_pos < m_end && (*m_pos == '-' || *m_pos == '+'))
            ++m_pos;
        while (m_pos < m_end && *m_pos >= '0' && *m_pos <= '9')
            ++m_pos;
    }
    const QByteArray number = QByteArray::fromRawData(start, int(m_pos - start));
    bool ok = false;
    if (isInteger) {
        const qlonglong whole = number.toLongLong(&ok);
        if (ok) {
            *value = double(whole);
            return true;
        }
    }
    *value = number.toDouble(&ok);
    if (!ok) {
        m_pos = start;
        return fail("illegal number");
    }
    return true;
}

bool CatalogueScanner::scanString(const char **begin, int *size, bool *plain)
{
    ++m_pos; // '"'
    *begin = m_pos;
    *plain = true;
    const auto *end = reinterpret_cast<const uchar *>(m_end);
    while (m_pos < m_end) {
        const char c = *m_pos;
        if (c == '"') {
            *size = int(m_pos - *begin);
            ++m_pos;
            return true;
        }
        if (c == '\\') {
            *plain = false;
            ++m_pos;
            if (m_pos >= m_end || unescape(&m_pos, m_end) < 0)
                return fail("illegal escape sequence");
        } else if (uchar(c) < 0x80) {
            ++m_pos;
        } else {
            *plain = false;
            const int length = utf8Length(reinterpret_cast<const uchar *>(m_pos), end);
            if (length == 0)
                return fail("invalid UTF8 string");
            m_pos += length;
        }
    }
    return fail("unterminated string");
}

bool CatalogueScanner::skipString()
{
    const char *begin;
    int size;
    bool plain;
    return scanString(&begin, &size, &plain);
}

bool CatalogueScanner::readString(QString *text, Text kind)
{
    const char *begin;
    int size;
    bool plain;
    if (!scanString(&begin, &size, &plain))
        return false;
    if (plain && kind == Text::Shared) {
        const QLatin1String bytes(begin, size);
        auto known = m_shared.constFind(bytes);
        if (known == m_shared.constEnd())
            known = m_shared.insert(bytes, QString(bytes));
        *text = known.value();
        return true;
    }
    if (plain) {
        *text = QString::fromLatin1(begin, size);
        return true;
    }
    // Checked by the scan: runs of UTF-8 between escapes, each escape one UTF-16 unit.
    QString decoded;
    decoded.reserve(size);
    const char *p = begin;
    const char *end = begin + size;
    while (p < end) {
        const char *run = p;
        while (p < end && *p != '\\')
            ++p;
        if (p > run)
            decoded += QString::fromUtf8(run, int(p - run));
        if (p < end) {
            ++p;
            decoded += QChar(ushort(unescape(&p, end)));
        }
    }
    *text = decoded;
    return true;
}

bool CatalogueScanner::readKey(Key *key)
{
    if (!scanString(&key->begin, &key->size, &key->plain))
        return false;
    if (!key->plain) {
        // Read a second time, decoded: keys with escapes or beyond ASCII are rare.
        const char *after = m_pos;
        m_pos = key->begin - 1;
        readString(&key->text);
        m_pos = after;
    }
    return true;
}

bool CatalogueScanner::keyEquals(const Key &key, const char *name, int size) const
{
    if (key.plain)
        return key.size == size && std::memcmp(key.begin, name, size_t(size)) == 0;
    return key.text == QLatin1String(name, size);
}

bool CatalogueScanner::readNumberValue(double *value)
{
    // Only these begin a number QJsonDocument takes; anything else reads as 0, as QJsonValue::toDouble() has
    // it.
    if (*m_pos == '-' || (*m_pos >= '0' && *m_pos <= '9') || *m_pos == '.')
        return readNumber(value);
    *value = 0;
    return skipValue();
}

bool CatalogueScanner::readStringValue(QString *text, Text kind)
{
    if (*m_pos == '"')
        return readString(text, kind);
    *text = QString();
    return skipValue();
}

bool CatalogueScanner::readStrings(QStringList *strings, Text kind)
{
    strings->clear();
    if (*m_pos != '[')
        return skipValue();
    return readArray([this, strings, kind] {
        QString text;
        if (!readStringValue(&text, kind))
            return false;
        strings->append(text);
        return true;
    });
}

bool CatalogueScanner::readLocalized(QString *text)
{
    // The text under the interface language, else under "en", else nothing.
    *text = QString();
    if (*m_pos != '{')
        return skipValue();
    bool found = false;
    QString wanted;
    QString english;
    const bool ok = readObject([&](const Key &key) {
        const bool isLanguage
            = key.plain ? QLatin1String(key.begin, key.size) == m_language : key.text == m_language;
        if (isLanguage) {
            found = true;
            if (!readStringValue(&wanted))
                return false;
            // The same key may be "en" too.
            if (keyIs(key, "en"))
                english = wanted;
            return true;
        }
        if (keyIs(key, "en"))
            return readStringValue(&english);
        return skipValue();
    });
    *text = found ? wanted : english;
    return ok;
}

bool CatalogueScanner::readInstall(Models::InstallInstructions *install)
{
    *install = Models::InstallInstructions();
    if (*m_pos != '{')
        return skipValue();
    return readObject([this, install](const Key &key) {
        if (keyIs(key, "extract"))
            return readStringValue(&install->extract, Text::Shared);
        if (keyIs(key, "preserve"))
            return readStrings(&install->preserve, Text::Shared);
        if (keyIs(key, "backup"))
            return readStrings(&install->backup, Text::Shared);
        return skipValue();
    });
}

bool CatalogueScanner::readUninstall(Models::UninstallInstructions *uninstall)
{
    *uninstall = Models::UninstallInstructions();
    if (*m_pos != '{')
        return skipValue();
    return readObject([this, uninstall](const Key &key) {
        if (keyIs(key, "remove"))
            return readStrings(&uninstall->remove, Text::Shared);
        return skipValue();
    });
}

bool CatalogueScanner::readVersion(PackageVersion *version)
{
    // An entry that is no object still makes a version, with nothing in it.
    if (*m_pos != '{')
        return skipValue();
    return readObject([this, version](const Key &key) {
        if (keyIs(key, "version"))
            return readStringValue(&version->version, Text::Shared);
        if (keyIs(key, "link"))
            return readStringValue(&version->link);
        if (keyIs(key, "mirrors"))
            return readStrings(&version->mirrors);
        if (keyIs(key, "sha256")) {
            if (!readStringValue(&version->sha256))
                return false;
            version->sha256 = std::move(version->sha256).toLower();
            return true;
        }
        if (keyIs(key, "size")) {
            double size;
            if (!readNumberValue(&size))
                return false;
            version->size = size > 0 && size < 9e15 ? qint64(size) : 0;
            return true;
        }
        if (keyIs(key, "depends"))
            return readStrings(&version->depends, Text::Shared);
        if (keyIs(key, "log"))
            return readStrings(&version->log);
        if (keyIs(key, "install"))
            return readInstall(version->install.data());
        if (keyIs(key, "uninstall"))
            return readUninstall(version->uninstall.data());
        return skipValue();
    });
}

bool CatalogueScanner::readPackage(QSharedPointer<Package> *result)
{
    auto package = QSharedPointer<Package>::create();
    package->setState(Package::AVAILABLE);
    QVector<QSharedPointer<PackageVersion>> versions;
    const bool ok = readObject([&](const Key &key) {
        QString text;
        bool read = true;
        if (keyIs(key, "versions")) {
            versions.clear();
            if (*m_pos != '[')
                return skipValue();
            return readArray([&] {
                auto version = QSharedPointer<PackageVersion>::create();
                version->install = QSharedPointer<Models::InstallInstructions>::create();
                version->uninstall = QSharedPointer<Models::UninstallInstructions>::create();
                versions.append(version);
                return readVersion(version.data());
            });
        } else if (keyIs(key, "id")) {
            double id;
            read = readNumberValue(&id);
            // A whole number in range, as QJsonValue::toInt() has it; anything else is no id.
            const bool inRange = id >= -2147483648.0 && id <= 2147483647.0;
            package->setId(inRange && id == double(int(id)) ? int(id) : 0);
        } else if (keyIs(key, "name")) {
            read = readLocalized(&text);
            package->setName(text);
        } else if (keyIs(key, "short_description")) {
            read = readLocalized(&text);
            package->setShortDescription(text);
        } else if (keyIs(key, "description")) {
            read = readLocalized(&text);
            package->setDescription(text);
        } else if (keyIs(key, "type")) {
            read = readStringValue(&text, Text::Shared);
            package->setType(text);
        } else if (keyIs(key, "icon")) {
            read = readStringValue(&text);
            package->setIcon(text);
        } else if (keyIs(key, "manual_url")) {
            read = readStringValue(&text);
            package->setManualUrl(text);
        } else if (keyIs(key, "help_url")) {
            read = readStringValue(&text);
            package->setHelpUrl(text);
        } else if (keyIs(key, "paid")) {
            package->setPaid(*m_pos == 't');
            read = skipValue();
        } else if (keyIs(key, "banner")) {
            QStringList banners;
            read = readStrings(&banners);
            package->setBanners(banners);
        } else {
            read = skipValue();
        }
        return read;
    });
    if (!ok)
        return false;
    if (versions.isEmpty())
        return true;
    // Newest first; each number is read once, not at every comparison.
    QVector<QPair<QVersionNumber, QSharedPointer<PackageVersion>>> numbered;
    numbered.reserve(versions.size());
    for (const QSharedPointer<PackageVersion> &version : qAsConst(versions))
        numbered.append({ QVersionNumber::fromString(version->version), version });
    std::sort(numbered.begin(), numbered.end(),
              [](const auto &a, const auto &b) { return QVersionNumber::compare(a.first, b.first) > 0; });
    for (int i = 0; i < numbered.size(); ++i)
        versions[i] = numbered.at(i).second;
    package->setVersions(versions);
    *result = package;
    return true;
}

} // namespace KOV::Controllers

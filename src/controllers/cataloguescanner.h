#pragma once

#include <QByteArray>
#include <QHash>
#include <QLatin1String>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QVector>

#include "models/package.h"

namespace KOV::Controllers {

/**
 * Reads the packages of a catalogue straight from its JSON bytes, without a QJsonDocument in between: a
 * document of 10,000 packages cost more to build and to free than the packages read from it. It accepts and
 * reads what QJsonDocument::fromJson does, down to its leniencies (an unknown escape stands for its
 * character; of two equal keys the last counts; 1024 levels of nesting).
 */
class CatalogueScanner final
{
    Q_DISABLE_COPY_MOVE(CatalogueScanner)
public:
    CatalogueScanner(const QByteArray &document, const QString &language);

    /** The packages with at least one version, in document order; false with `error` set when the
     * document is not a JSON array. */
    bool read(QVector<QSharedPointer<Models::Package>> *packages, QString *error);

private:
    struct Key
    {
        const char *begin = nullptr;
        int size = 0;
        bool plain = true; // no escapes and ASCII only: the bytes are the text
        QString text; // the decoded text of a key that is not plain
    };

    bool fail(const char *problem);
    void skipSpace();
    bool atEnd() const { return m_pos >= m_end; }
    bool enter();
    void leave() { --m_depth; }

    // Texts that recur across packages and versions (types, version numbers, dependencies, install paths)
    // are made once and shared: each repetition would otherwise cost an allocation, kept as long as the list.
    enum class Text { Own, Shared };

    // Each reader consumes one value of any type; a value of another type than it wants reads as empty.
    bool skipValue();
    bool skipString();
    bool scanString(const char **begin, int *size, bool *plain);
    bool readString(QString *text, Text kind = Text::Own);
    bool readStringValue(QString *text, Text kind = Text::Own);
    bool readStrings(QStringList *strings, Text kind = Text::Own);
    bool readLocalized(QString *text);
    bool readNumber(double *value);
    bool readNumberValue(double *value);
    bool readLiteral(const char *rest, int size);

    /** Calls `member(key)` for each member of an object; `member` consumes the value. */
    template<typename Member> bool readObject(Member member);
    /** Calls `element()` for each element of an array; `element` consumes it. */
    template<typename Element> bool readArray(Element element);
    bool readKey(Key *key);
    bool keyEquals(const Key &key, const char *name, int size) const;
    template<int N> bool keyIs(const Key &key, const char (&name)[N]) const
    {
        return keyEquals(key, name, N - 1);
    }

    bool readPackage(QSharedPointer<Models::Package> *package);
    bool readVersion(Models::PackageVersion *version);
    bool readInstall(Models::InstallInstructions *install);
    bool readUninstall(Models::UninstallInstructions *uninstall);

    const char *m_begin;
    const char *m_pos;
    const char *m_end;
    QString m_language;
    int m_depth = 0;
    QString m_error;
    QHash<QLatin1String, QString> m_shared; // keys point into the document
};

} // namespace KOV::Controllers

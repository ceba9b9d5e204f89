#pragma once

#include <QObject>
#include <QSharedPointer>
#include <QString>

namespace KOV::Models {
class Package;
}

namespace KOV::Controllers {

/** What the list shows: the search text and the sidebar's choices. Changing any of them emits changed(). */
class PackageFilter final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PackageFilter)
public:
    enum Show { ALL, INSTALLED, UPDATES };
    Q_ENUM(Show)

    explicit PackageFilter(QObject *parent = nullptr);

    QString text() const { return m_text; }
    /** A catalogue `type` ("PLUGIN", "LIBRARY"); empty for all. */
    QString category() const { return m_category; }
    bool showsFree() const { return m_free; }
    bool showsPaid() const { return m_paid; }
    Show show() const { return m_show; }

    void setText(const QString &text);
    void setCategory(const QString &category);
    void setTypes(bool free, bool paid);
    void setShow(Show show);
    /** Back to showing everything. */
    void clear();

    /** True when nothing is filtered out. */
    bool isEmpty() const;
    /** The text that a search looks in: name, short description and id, folded. */
    static QString searchKey(const Models::Package &package);
    /** Lower case without diacritics, so that "zurich" finds "Zürich". */
    static QString fold(const QString &text);
    /** Whether `package`, whose searchKey() is `key`, is shown. */
    bool matches(const Models::Package &package, const QString &key) const;

signals:
    void changed();

private:
    QString m_text;
    QString m_foldedText;
    QString m_category;
    bool m_free = true;
    bool m_paid = true;
    Show m_show = ALL;
};

} // namespace KOV::Controllers

#include "controllers/packagefilter.h"

#include "models/package.h"

namespace KOV::Controllers {

using Models::Package;

PackageFilter::PackageFilter(QObject *parent)
    : QObject(parent)
{
}

void PackageFilter::setText(const QString &text)
{
    const QString folded = fold(text.simplified());
    if (folded == m_foldedText)
        return;
    m_text = text;
    m_foldedText = folded;
    emit changed();
}

void PackageFilter::setCategory(const QString &category)
{
    if (category == m_category)
        return;
    m_category = category;
    emit changed();
}

void PackageFilter::setTypes(bool free, bool paid)
{
    if (free == m_free && paid == m_paid)
        return;
    m_free = free;
    m_paid = paid;
    emit changed();
}

void PackageFilter::setShow(Show show)
{
    if (show == m_show)
        return;
    m_show = show;
    emit changed();
}

void PackageFilter::clear()
{
    if (isEmpty())
        return;
    m_text.clear();
    m_foldedText.clear();
    m_category.clear();
    m_free = m_paid = true;
    m_show = ALL;
    emit changed();
}

bool PackageFilter::isEmpty() const
{
    return m_foldedText.isEmpty() && m_category.isEmpty() && m_free && m_paid && m_show == ALL;
}

QString PackageFilter::fold(const QString &text)
{
    // Decomposed, "ü" is "u" and a combining mark; without the marks only the letters are left.
    const QString decomposed = text.normalized(QString::NormalizationForm_KD);
    QString folded;
    folded.reserve(decomposed.size());
    for (const QChar character : decomposed) {
        if (character.category() != QChar::Mark_NonSpacing)
            folded.append(character);
    }
    // Simple case folding keeps "ß"; whoever types "strasse" means it.
    return folded.toCaseFolded().replace(QChar(0x00DF), QLatin1String("ss"));
}

QString PackageFilter::searchKey(const Package &package)
{
    return fold(package.name() + QLatin1Char('\n') + package.shortDescription() + QLatin1Char('\n')
                + QString::number(package.id()));
}

bool PackageFilter::matches(const Package &package, const QString &key) const
{
    if (!m_category.isEmpty() && package.type() != m_category)
        return false;
    if (!(package.isPaid() ? m_paid : m_free))
        return false;
    const bool installed = package.state() == Package::INSTALLED;
    if ((m_show == INSTALLED && !installed) || (m_show == UPDATES && !(installed && package.hasUpdate())))
        return false;
    return m_foldedText.isEmpty() || key.contains(m_foldedText);
}

} // namespace KOV::Controllers

#include "components/inerthtmlview.h"

#include <QImage>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextList>

#include "common/externallink.h"

namespace KOV::Components {

namespace {

// Qt's image handler opens an image's file itself when the document gives it nothing, and QTextDocument
// reads local files when its parent does not answer: every image is this blank, and nothing else is loaded.
class InertDocument final : public QTextDocument
{
public:
    using QTextDocument::QTextDocument;

protected:
    QVariant loadResource(int type, const QUrl &) override
    {
        if (type != QTextDocument::ImageResource)
            return QVariant();
        static const QImage blank = [] {
            QImage image(1, 1, QImage::Format_ARGB32);
            image.fill(Qt::transparent);
            return image;
        }();
        return blank;
    }
};

QString fragmentHtml(const QTextFragment &fragment)
{
    const QTextCharFormat format = fragment.charFormat();
    if (format.isImageFormat())
        return QString();
    QString html = fragment.text().toHtmlEscaped();
    html.replace(QChar::LineSeparator, QStringLiteral("<br>"));
    if (format.fontWeight() > QFont::Normal)
        html = QStringLiteral("<b>") + html + QStringLiteral("</b>");
    if (format.fontItalic())
        html = QStringLiteral("<i>") + html + QStringLiteral("</i>");
    if (format.fontUnderline() && !format.isAnchor())
        html = QStringLiteral("<u>") + html + QStringLiteral("</u>");
    if (format.isAnchor() && !format.anchorHref().isEmpty())
        html = QStringLiteral("<a href=\"") + format.anchorHref().toHtmlEscaped() + QStringLiteral("\">") + html
               + QStringLiteral("</a>");
    return html;
}

} // namespace

InertHtmlView::InertHtmlView(QWidget *parent)
    : QTextBrowser(parent)
{
    setDocument(new InertDocument(this));
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setReadOnly(true);
    setFrameShape(QFrame::NoFrame);
    connect(this, &QTextBrowser::anchorClicked, this, [this](const QUrl &link) { openExternalLink(link, this); });
}

QVariant InertHtmlView::loadResource(int, const QUrl &)
{
    return QVariant();
}

QString InertHtmlView::strip(const QString &html)
{
    // Written anew from what the markup says: text, emphasis, links, paragraphs and lists. Nothing a label
    // could load (images, backgrounds, style sheets) is carried over.
    InertDocument document;
    document.setHtml(html);
    QString result;
    QTextList *openList = nullptr;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        QTextList *list = block.textList();
        if (list != openList) {
            if (openList)
                result += openList->format().style() <= QTextListFormat::ListDecimal ? QStringLiteral("</ol>")
                                                                                     : QStringLiteral("</ul>");
            if (list)
                result += list->format().style() <= QTextListFormat::ListDecimal ? QStringLiteral("<ol>")
                                                                                 : QStringLiteral("<ul>");
            openList = list;
        }
        QString text;
        for (auto it = block.begin(); !it.atEnd(); ++it)
            text += fragmentHtml(it.fragment());
        if (list)
            result += QStringLiteral("<li>") + text + QStringLiteral("</li>");
        else if (!text.isEmpty())
            result += QStringLiteral("<p>") + text + QStringLiteral("</p>");
    }
    if (openList)
        result += openList->format().style() <= QTextListFormat::ListDecimal ? QStringLiteral("</ol>")
                                                                             : QStringLiteral("</ul>");
    return result;
}

} // namespace KOV::Components

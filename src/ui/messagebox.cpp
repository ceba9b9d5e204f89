#include "ui/messagebox.h"

#include "components/inerthtmlview.h"

namespace KOV::Ui {

void MessageBox::tell(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool MessageBox::ask(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
                     bool destructive)
{
    QMessageBox box(icon, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setTextFormat(Qt::PlainText);
    // Enter or a stray key press must not take what cannot be given back.
    box.setDefaultButton(destructive ? QMessageBox::No : QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

bool MessageBox::askAboutHtml(QWidget *parent, const QString &title, const QString &html, const QString &question)
{
    QMessageBox box(QMessageBox::Question, title, QString(), QMessageBox::Yes | QMessageBox::No, parent);
    box.setTextFormat(Qt::RichText);
    box.setText(Components::InertHtmlView::strip(html + QStringLiteral("<p><strong>") + question.toHtmlEscaped()
                                                 + QStringLiteral("</strong></p>")));
    return box.exec() == QMessageBox::Yes;
}

} // namespace KOV::Ui

#pragma once

#include <QCoreApplication>
#include <QMessageBox>

namespace KOV::Ui {

/**
 * The boxes that show a catalogue's texts. Names and paths are shown as written: a box's automatic rich
 * text would load what a tag in them names. Change logs keep their markup without its images.
 */
class MessageBox final
{
    Q_DECLARE_TR_FUNCTIONS(KOV::Ui::MessageBox)
public:
    static void tell(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text);
    /** Yes or No; closing the box is No. A destructive question has No as its default button. */
    static bool ask(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
                    bool destructive = false);
    /** The catalogue's `html` (without images) with `question` below it, as plain text; Yes or No. */
    static bool askAboutHtml(QWidget *parent, const QString &title, const QString &html, const QString &question);
};

} // namespace KOV::Ui

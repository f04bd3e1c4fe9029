#include "app/reports.h"

#include <QMessageBox>
#include <QString>

namespace app {

std::u16string DirectXErrorText(std::u16string_view description, std::u16string_view module,
                                std::u16string_view routine)
{
    std::u16string text = u"Description: ";
    text += description;
    text += u" \nModule: ";
    text += module;
    text += u" \nRoutine: ";
    text += routine;
    return text;
}

void ReportDirectXError(QWidget* parent, std::u16string_view description, std::u16string_view module,
                        std::u16string_view routine)
{
    const std::u16string text = DirectXErrorText(description, module, routine);
    QMessageBox::information(parent, QString::fromStdU16String(std::u16string(kDirectXErrorCaption)),
                             QString::fromStdU16String(text));
}

} // namespace app

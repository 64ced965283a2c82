#include "ui/HostPageSupport.h"

#include <QBoxLayout>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpressionValidator>
#include <QSlider>

namespace qm::ui {

QLineEdit* NewNumberEdit(const QString& objectName, QWidget* parent)
{
    auto* edit = NewTextEdit(objectName, parent);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    edit->setMaxLength(10);
    return edit;
}

QLineEdit* NewTextEdit(const QString& objectName, QWidget* parent, bool password)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(objectName);
    if (password)
        edit->setEchoMode(QLineEdit::Password);
    return edit;
}

QSlider* NewSensitivitySlider(QWidget* parent)
{
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setObjectName(QStringLiteral("sensitivitySlider"));
    slider->setRange(1, 11);
    slider->setTickInterval(1);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setPageStep(1);
    return slider;
}

QWidget* SliderWithEnds(QSlider* slider, QWidget* parent)
{
    auto* box = new QWidget(parent);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(slider);
    auto* ends = new QHBoxLayout;
    ends->addWidget(new QLabel(QStringLiteral("low"), box));
    ends->addStretch();
    ends->addWidget(new QLabel(QStringLiteral("high"), box));
    column->addLayout(ends);
    return box;
}

QLabel* NewBannerTitle(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QStringLiteral("titleLabel"));
    label->setWordWrap(true);
    QFont font(QStringLiteral("Verdana"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(12);
    font.setBold(true);
    label->setFont(font);
    return label;
}

QString WholeNumberMessage(const QString& what, int max)
{
    return QStringLiteral("The %1 must be a whole number from 0 to %2.").arg(what).arg(max);
}

void TellOperator(QWidget* parent, OperatorPrompt* prompt, OperatorPrompt::Icon icon, const QString& text)
{
    if (prompt) {
        prompt->inform(icon, text.toStdString());
        return;
    }
    QMessageBox::Icon boxIcon = QMessageBox::NoIcon;
    switch (icon) {
    case OperatorPrompt::Icon::Plain: boxIcon = QMessageBox::NoIcon; break;
    case OperatorPrompt::Icon::Information: boxIcon = QMessageBox::Information; break;
    case OperatorPrompt::Icon::Warning: boxIcon = QMessageBox::Warning; break;
    case OperatorPrompt::Icon::Stop: boxIcon = QMessageBox::Critical; break;
    case OperatorPrompt::Icon::Question: boxIcon = QMessageBox::Question; break;
    }
    auto* box = new QMessageBox(boxIcon, QStringLiteral("Quillmere"), text, QMessageBox::Ok, parent);
    box->setObjectName(QStringLiteral("operatorMessage"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

} // namespace qm::ui

#pragma once

#include "platform/OperatorPrompt.h"

#include <QString>

class QFont;
class QLabel;
class QLineEdit;
class QSlider;
class QWidget;

namespace qm::ui {

// Small pieces shared by the pages of the host wizard and of the
// configuration sheet.

// A line edit that takes digits only (an integer field).
QLineEdit* NewNumberEdit(const QString& objectName, QWidget* parent);

// A line edit with the given object name (and masked input for passwords).
QLineEdit* NewTextEdit(const QString& objectName, QWidget* parent, bool password = false);

// The float sensitivity slider: 1 ("low") to 11 ("high"), a tick at every step.
QSlider* NewSensitivitySlider(QWidget* parent);
// The slider with its "low" and "high" end labels under it.
QWidget* SliderWithEnds(QSlider* slider, QWidget* parent);

// The large title text of the wizard's first and last pages.
QLabel* NewBannerTitle(const QString& text, QWidget* parent);

// The highest value of a port field.
inline constexpr int kMaxPort = 65535;

// Why an integer field is refused: "The <what> must be a whole number from 0 to <max>."
QString WholeNumberMessage(const QString& what, int max);

// Tells the operator: through the prompt when one is given, else in a message
// box over `parent` that does not block the caller.
void TellOperator(QWidget* parent, OperatorPrompt* prompt, OperatorPrompt::Icon icon, const QString& text);

} // namespace qm::ui

#pragma once

#include <QTreeView>

namespace qm {
class MessagePaneModel;
}

namespace qm::ui {

// The lower pane: results of the checked hosts, newest first. "Message" takes
// the width less 140 pixels, "Resp Time" and "Time Stamp" 70 each, on every
// resize.
class MessagePaneView : public QTreeView
{
    Q_OBJECT

public:
    static constexpr int kFixedColumnWidth = 70;

    explicit MessagePaneView(MessagePaneModel& model, QWidget* parent = nullptr);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void layoutColumns();
};

} // namespace qm::ui

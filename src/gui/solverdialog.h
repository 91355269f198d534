#ifndef SOLVERDIALOG_H
#define SOLVERDIALOG_H

#include <QDialog>

class QPushButton;

// Asks which solver runs: the multi-threaded CPU solver or the OpenCL one.
// The OpenCL button works only when the preference allows it, the system's
// OpenCL library loads and the plugin lists a device; its tool tip says
// which is missing.
class SolverDialog : public QDialog
{
    Q_OBJECT
public:
    explicit SolverDialog(QWidget *parent = nullptr);

    // 1: CPU, 2: OpenCL, 0: the dialog was left without a choice (Escape).
    int getResult() const;

    // Whether the system's OpenCL library can be loaded.
    static bool openCLLibraryLoads();
    // Why OpenCL cannot solve here (no runtime, no plugin at pluginPath
    // (empty: beside the program), no device); empty when it can.
    static QString openCLUnavailable(const QString &pluginPath = QString());

public slots:
    void on_multib_clicked();
    void on_openclb_clicked();

private:
    int m_choice = 2;
    QPushButton *m_multib = nullptr;
    QPushButton *m_openclb = nullptr;
};

#endif

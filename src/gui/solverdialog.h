#ifndef SOLVERDIALOG_H
#define SOLVERDIALOG_H

#include <QDialog>

class QPushButton;

// Asks which solver runs: the multi-threaded CPU solver or the OpenCL one.
// The OpenCL button works only when the preference allows it and the
// system's OpenCL library loads.
class SolverDialog : public QDialog
{
    Q_OBJECT
public:
    explicit SolverDialog(QWidget *parent = nullptr);

    // 1: CPU, 2: OpenCL, 0: the dialog was left without a choice (Escape).
    int getResult() const;

    // Whether the system's OpenCL library can be loaded.
    static bool openCLLibraryLoads();

public slots:
    void on_multib_clicked();
    void on_openclb_clicked();

private:
    int m_choice = 2;
    QPushButton *m_multib = nullptr;
    QPushButton *m_openclb = nullptr;
};

#endif

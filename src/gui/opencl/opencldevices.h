#ifndef OPENCLDEVICES_H
#define OPENCLDEVICES_H

#include <QDialog>
#include <QList>
#include <QStringList>

class PluginHost;
class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;
class QThread;

// "Select Computation Devices": loads the OpenCL plugin, lets the user
// choose the devices, hands the system over and forwards the solver's
// forward-elimination request. One per solve that uses OpenCL; deleting it
// releases and unloads the plugin.
class OpenCLDevices : public QDialog
{
    Q_OBJECT
public:
    explicit OpenCLDevices(QWidget *parent = nullptr);
    ~OpenCLDevices() override;

    // The OpenCL library check, then the plugin beside the program (or at
    // path). True when it loaded with the right interface.
    bool loadPlugin(const QString &path = QString());
    // Lists the devices, asks for a choice and prepares the chosen ones.
    // False (the CPU solves) without devices, without a choice or when the
    // plugin cannot prepare them.
    bool selectDevices();

    // The table from device lists of 7 strings each.
    void fillTable(const QList<QStringList> &lists);
    // Positions (from 0, the plugin's order) of the rows whose first cell
    // is selected, in ascending order.
    QList<int> selectedDevices();

    PluginHost *host() const { return m_host; }
    // The engine chosen (also kept in the preferences): step by step, or
    // the blocked one.
    bool stepwise() const;

public slots:
    void initialiseGPU(double **c, double *r, double **ur, double **dr, int n, QList<int> *diag,
                       QThread *t);
    void calcURatios(bool *res);
    // Shows a device error triple in a box by its type (on this thread).
    void errMsg(QString *errTitle, QString *errTxt, QString errorType);

    void on_okb_clicked();
    void on_tableWidget_itemSelectionChanged();
    void on_label_linkActivated(const QString &link);

private:
    PluginHost *m_host;
    QLabel *m_label;
    QTableWidget *m_table;
    QPushButton *m_okb;
    QComboBox *m_engine;
};

#endif

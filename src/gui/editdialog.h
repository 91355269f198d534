#ifndef EDITDIALOG_H
#define EDITDIALOG_H

#include <QDialog>
#include <QString>
#include <QStringList>

class QComboBox;
class QIntValidator;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace Ui {
class EditDialog;
}

// The chooser of Cut, Copy, Paste and Clear, shared by all windows: the
// user picks an equation (row), a variable (column) or the right-hand side.
// The answer is "Equation k", "Xk" or "RHS", or empty when cancelled.
class EditDialog : public QDialog
{
    Q_OBJECT
public:
    explicit EditDialog(QWidget *parent = nullptr);
    ~EditDialog() override;

    // Readies the dialog for a system of n variables and one operation:
    // 'x' cut, 'c' copy, 'v' paste, 'd' clear. Any other code does nothing.
    void prepare(int n, char operation);
    QString resultString() const { return m_result; }
    int variables() const { return m_n; }
    char operation() const { return m_operation; }

    // The controls, for the window's tests to answer the chooser.
    QRadioButton *rowButton() const;
    QRadioButton *columnButton() const;
    QRadioButton *rhsButton() const;
    QComboBox *combo() const;
    QLineEdit *searchEdit() const;
    QLabel *elementLabel() const;
    QLabel *selectLabel() const;
    QLabel *searchLabel() const;
    QPushButton *okButton() const;
    QPushButton *cancelButton() const;

public slots:
    void rowbToggled(bool checked);
    void colbToggled(bool checked);
    void rhsbToggled(bool checked);
    void Search(QString str);
    void on_Edit_Dialog_accepted();
    void on_Edit_Dialog_rejected();

private:
    // Combo shown with items, search field cleared and shown, OK shown.
    void showChooser(const QString &label, const QStringList &items);

    Ui::EditDialog *ui;
    QIntValidator *m_validator;
    int m_n = 0;
    char m_operation = 0;
    QString m_elementText;
    QString m_rowText;
    QString m_columnText;
    QStringList m_equationItems;
    QStringList m_variableItems;
    QString m_result;
};

#endif

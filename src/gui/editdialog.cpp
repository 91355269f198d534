#include "editdialog.h"
#include "ui_editdialog.h"

#include <QComboBox>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

EditDialog::EditDialog(QWidget *parent)
    : QDialog(parent), ui(new Ui::EditDialog), m_validator(new QIntValidator(1, 2, this))
{
    ui->setupUi(this);
    setWindowTitle(QString());
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    ui->ledit->setValidator(m_validator);
    connect(ui->rowb, &QRadioButton::toggled, this, &EditDialog::rowbToggled);
    connect(ui->columnb, &QRadioButton::toggled, this, &EditDialog::colbToggled);
    connect(ui->rhsb, &QRadioButton::toggled, this, &EditDialog::rhsbToggled);
    connect(ui->ledit, &QLineEdit::textChanged, this, &EditDialog::Search);
}

EditDialog::~EditDialog()
{
    delete ui;
}

void EditDialog::prepare(int n, char operation)
{
    QString word;
    switch (operation) {
    case 'x': word = QStringLiteral("CUT"); break;
    case 'c': word = QStringLiteral("COPY"); break;
    case 'v': word = QStringLiteral("PASTE"); break;
    case 'd': word = QStringLiteral("CLEAR"); break;
    default: return;
    }
    setUpdatesEnabled(false);
    m_n = n;
    m_operation = operation;
    m_result.clear();
    m_validator->setRange(1, n > 0 ? n : 1);

    m_elementText = QStringLiteral("Select the type of Element to modify by the ") + word
                    + QStringLiteral(" operation :");
    m_rowText = QStringLiteral("Select the ROW to perform the ") + word + QStringLiteral(" operation :");
    m_columnText = QStringLiteral("Select the COLUMN to perform the ") + word + QStringLiteral(" operation :");
    ui->elementLabel->setText(m_elementText);

    ui->selectLabel->hide();
    ui->searchlabel->hide();
    ui->ledit->clear();
    ui->ledit->hide();
    ui->combo->clear();
    ui->combo->hide();

    // Radio buttons of one group cannot all be unchecked while exclusive.
    for (QRadioButton *b : {ui->rowb, ui->columnb, ui->rhsb}) {
        b->setAutoExclusive(false);
        b->setChecked(false);
        b->setAutoExclusive(true);
    }
    ui->Edit_Dialog->button(QDialogButtonBox::Ok)->hide();

    m_equationItems.clear();
    m_variableItems.clear();
    m_equationItems.reserve(n);
    m_variableItems.reserve(n);
    for (int i = 1; i <= n; ++i) {
        const QString k = QString::number(i);
        m_equationItems.append(QStringLiteral("Equation ") + k);
        m_variableItems.append(QLatin1Char('X') + k);
    }
    setUpdatesEnabled(true);
}

void EditDialog::showChooser(const QString &label, const QStringList &items)
{
    ui->selectLabel->setText(label);
    ui->selectLabel->show();
    ui->searchlabel->show();
    ui->Edit_Dialog->button(QDialogButtonBox::Ok)->show();
    ui->combo->clear();
    ui->combo->addItems(items);
    ui->combo->show();
    ui->ledit->clear();
    ui->ledit->show();
}

void EditDialog::rowbToggled(bool checked)
{
    if (checked)
        showChooser(m_rowText, m_equationItems);
}

void EditDialog::colbToggled(bool checked)
{
    if (checked)
        showChooser(m_columnText, m_variableItems);
}

void EditDialog::rhsbToggled(bool checked)
{
    if (!checked)
        return;
    ui->selectLabel->clear();
    ui->selectLabel->hide();
    ui->searchlabel->hide();
    ui->Edit_Dialog->button(QDialogButtonBox::Ok)->show();
    ui->combo->hide();
    ui->ledit->hide();
}

void EditDialog::Search(QString str)
{
    bool ok = false;
    const int k = str.toInt(&ok);
    // The validator still lets through text that could become a valid
    // number ("0", or a single digit above a small N); such text selects
    // nothing rather than emptying the choice.
    if (ok && k >= 1 && k <= ui->combo->count())
        ui->combo->setCurrentIndex(k - 1);
}

void EditDialog::on_Edit_Dialog_accepted()
{
    m_result = ui->rhsb->isChecked() ? QStringLiteral("RHS") : ui->combo->currentText();
    accept();
}

void EditDialog::on_Edit_Dialog_rejected()
{
    m_result.clear();
    reject();
}

QRadioButton *EditDialog::rowButton() const { return ui->rowb; }
QRadioButton *EditDialog::columnButton() const { return ui->columnb; }
QRadioButton *EditDialog::rhsButton() const { return ui->rhsb; }
QComboBox *EditDialog::combo() const { return ui->combo; }
QLineEdit *EditDialog::searchEdit() const { return ui->ledit; }
QLabel *EditDialog::elementLabel() const { return ui->elementLabel; }
QLabel *EditDialog::selectLabel() const { return ui->selectLabel; }
QLabel *EditDialog::searchLabel() const { return ui->searchlabel; }
QPushButton *EditDialog::okButton() const { return ui->Edit_Dialog->button(QDialogButtonBox::Ok); }
QPushButton *EditDialog::cancelButton() const { return ui->Edit_Dialog->button(QDialogButtonBox::Cancel); }

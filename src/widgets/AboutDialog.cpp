#include "widgets/AboutDialog.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QSysInfo>
#include <QTextEdit>
#include <QUrl>
#include <QVBoxLayout>

namespace Keldra::Widgets {

namespace {

// Keeps the component rows tight: one text line plus a little air.
class CompactListItemDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return QSize(QStyledItemDelegate::sizeHint(option, index).width(), option.fontMetrics.height() + 3);
    }
};

} // namespace

AboutDialog::AboutDialog(const AboutContent& content, QWidget* parent) : QDialog(parent)
{
    buildUi(content);
    for (const auto& [name, details] : content.components) {
        m_componentDetails.insert(name, details);
        m_componentsList->addItem(name);
    }
    if (m_componentsList->count() > 0)
        m_componentsList->setCurrentRow(0);
}

void AboutDialog::buildUi(const AboutContent& content)
{
    setWindowTitle(content.windowTitle);
    setModal(true);
    resize(content.size);

    auto* titleLabel = new QLabel(content.heading, this);
    QFont titleFont = font();
    titleFont.setPointSizeF(titleFont.pointSizeF() + 16);
    titleFont.setWeight(QFont::DemiBold);
    titleLabel->setFont(titleFont);
    titleLabel->setStyleSheet(QStringLiteral("color: #0B4F8A;"));

    const int iconSide = QFontMetrics(titleFont).height();
    auto* iconLabel = new QLabel(this);
    iconLabel->setPixmap(QIcon(QStringLiteral(":/icons/Keldra.ico")).pixmap(iconSide, iconSide));
    iconLabel->setFixedSize(iconSide, iconSide);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(0, 0, 0, 0);
    header->setSpacing(8);
    header->addWidget(iconLabel, 0, Qt::AlignLeft | Qt::AlignVCenter);
    header->addWidget(titleLabel, 0, Qt::AlignVCenter);
    header->addStretch();

    auto* productInfoLabel = new QLabel(this);
    productInfoLabel->setTextFormat(Qt::RichText);
    productInfoLabel->setText(content.productText);
    productInfoLabel->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse |
                                              Qt::LinksAccessibleByKeyboard);
    productInfoLabel->setOpenExternalLinks(false);
    productInfoLabel->setWordWrap(true);
    connect(productInfoLabel, &QLabel::linkActivated, this,
            [](const QString& link) { QDesktopServices::openUrl(QUrl(link)); });

    auto* runtimeLabel = new QLabel(QStringLiteral("Ambiente de execução\n%1\nQt %2\n%3")
                                        .arg(QSysInfo::prettyProductName(), QString::fromLatin1(qVersion()),
                                             QSysInfo::currentCpuArchitecture()),
                                    this);

    auto* grid = new QGridLayout;
    grid->addLayout(header, 0, 0);
    grid->addWidget(productInfoLabel, 1, 0, Qt::AlignTop);
    grid->addWidget(runtimeLabel, 1, 1, Qt::AlignTop);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);

    m_componentsList = new QListWidget(this);
    m_componentsList->setMinimumHeight(82);
    m_componentsList->setSpacing(0);
    m_componentsList->setUniformItemSizes(false);
    m_componentsList->setItemDelegate(new CompactListItemDelegate(m_componentsList));
    m_componentsList->setStyleSheet(QStringLiteral("QListWidget::item { padding: 0px; margin: 0px; }"));
    connect(m_componentsList, &QListWidget::currentTextChanged, this, &AboutDialog::updateDetails);

    m_detailsEdit = new QTextEdit(this);
    m_detailsEdit->setReadOnly(true);
    m_detailsEdit->setMinimumHeight(104);
    m_detailsEdit->document()->setDocumentMargin(4);
    m_detailsEdit->setStyleSheet(QStringLiteral("QTextEdit { padding: 0px; }"));

    auto* legalLabel = new QLabel(content.legalText, this);
    legalLabel->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("Fechar"), QDialogButtonBox::AcceptRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addSpacing(10);
    layout->addWidget(new QLabel(content.componentsCaption, this));
    layout->addWidget(m_componentsList);
    layout->addSpacing(8);
    if (!content.detailsCaption.isEmpty())
        layout->addWidget(new QLabel(content.detailsCaption, this));
    layout->addWidget(m_detailsEdit);
    layout->addWidget(legalLabel);
    layout->addWidget(buttons);
}

void AboutDialog::updateDetails(const QString& componentText)
{
    const auto found = m_componentDetails.constFind(componentText);
    if (found == m_componentDetails.constEnd()) {
        m_detailsEdit->clear();
        return;
    }
    m_detailsEdit->setPlainText(found.value());
}

} // namespace Keldra::Widgets

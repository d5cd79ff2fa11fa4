// The property list widget: rows and their editors, then the apply protocol.
#include "ui/property_list_widget.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include "model/color_index.h"
#include "ui/static_ex.h"

namespace {

constexpr int kSwatchSize = 14;
// The colour indices a colour row offers: by layer first, then the palette.
constexpr int kFirstPaletteIndex = 1;
constexpr int kLastPaletteIndex = 255;

QString ToQString(const std::string& text) { return QString::fromStdString(text); }

QPixmap Swatch(int colorIndex)
{
    QPixmap swatch(kSwatchSize, kSwatchSize);
    swatch.fill(ToQColor(ColorIndexToRGB(colorIndex, nullptr, false)));
    return swatch;
}

std::string ColorName(int colorIndex)
{
    std::string name;
    (void)ColorIndexToRGB(colorIndex, &name, true);
    return name;
}

bool IsEditable(int kind)
{
    return kind == PROP_CHOICE || kind == PROP_TEXT || kind == PROP_SPIN || kind == PROP_COLOR_INDEX ||
           kind == PROP_BUTTON;
}

bool SameRecord(const CPropertyRow& a, const CPropertyRow& b)
{
    return a.name == b.name && a.value == b.value && a.kind == b.kind && a.choices == b.choices &&
           a.number == b.number && a.minimum == b.minimum && a.maximum == b.maximum;
}

// The record after an applied edit that the handler did not write back.
void TakeEdit(CPropertyRow& record, int value, const std::string& text)
{
    switch (record.kind) {
    case PROP_CHOICE:
    case PROP_COLOR_INDEX:
        record.number = value;
        record.value = text;
        break;
    case PROP_SPIN:
        record.number = value;
        record.value = std::to_string(value);
        break;
    case PROP_TEXT: record.value = text; break;
    default: break;
    }
}

}  // namespace

struct CPropertyListWidget::CRowEntry {
    CPropertyRow record;
    QLabel* name = nullptr;
    QWidget* editor = nullptr;
};

CPropertyListWidget::CPropertyListWidget(QWidget* parent) : QScrollArea(parent)
{
    setWidgetResizable(true);
    NewContent();
}

CPropertyListWidget::~CPropertyListWidget() = default;

void CPropertyListWidget::NewContent()
{
    m_content = new QWidget;
    auto* outer = new QVBoxLayout(m_content);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* gridHolder = new QWidget(m_content);
    m_grid = new QGridLayout(gridHolder);
    m_grid->setColumnStretch(1, 1);
    outer->addWidget(gridHolder);
    outer->addStretch(1);
    setWidget(m_content);
}

int CPropertyListWidget::AddCategory(const std::string& heading)
{
    CPropertyRow record;
    record.name = heading;
    record.kind = PROP_CATEGORY;
    return AddRow(std::move(record));
}

int CPropertyListWidget::AddPropItem(const std::string& name, const std::string& value, int kind,
                                     const std::string& choices)
{
    CPropertyRow record;
    record.name = name;
    record.value = kind == PROP_BUTTON ? std::string() : value;
    record.kind = kind;
    record.choices = choices;
    if (kind == PROP_CHOICE) {
        const std::vector<std::string> items = SplitChoices(choices);
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (items[i] == value) {
                record.number = static_cast<int>(i);
                break;
            }
        }
    }
    return AddRow(std::move(record));
}

int CPropertyListWidget::AddColorIndexItem(const std::string& name, int colorIndex, const std::string& colorName)
{
    CPropertyRow record;
    record.name = name;
    record.value = colorName;
    record.kind = PROP_COLOR_INDEX;
    record.number = colorIndex;
    return AddRow(std::move(record));
}

int CPropertyListWidget::AddSpinItem(const std::string& name, int value, int minimum, int maximum)
{
    CPropertyRow record;
    record.name = name;
    record.value = std::to_string(value);
    record.kind = PROP_SPIN;
    record.number = value;
    record.minimum = minimum;
    record.maximum = maximum;
    return AddRow(std::move(record));
}

int CPropertyListWidget::AddRow(CPropertyRow record)
{
    const int n = GetRowCount();
    auto entry = std::make_unique<CRowEntry>();
    entry->record = std::move(record);
    MakeWidgets(n, *entry);
    m_rows.push_back(std::move(entry));
    return n;
}

void CPropertyListWidget::RemoveAllRows()
{
    ++m_generation;
    m_rows.clear();
    // An editor may be calling us from its own signal: it goes later.
    if (QWidget* old = takeWidget()) {
        old->hide();
        old->deleteLater();
    }
    NewContent();
}

CPropertyRow* CPropertyListWidget::GetRow(int n)
{
    return n >= 0 && n < GetRowCount() ? &m_rows[static_cast<std::size_t>(n)]->record : nullptr;
}

QWidget* CPropertyListWidget::GetEditor(int n) const
{
    return n >= 0 && n < GetRowCount() ? m_rows[static_cast<std::size_t>(n)]->editor : nullptr;
}

QLabel* CPropertyListWidget::GetNameLabel(int n) const
{
    return n >= 0 && n < GetRowCount() ? m_rows[static_cast<std::size_t>(n)]->name : nullptr;
}

// ---- editors ----------------------------------------------------------------

void CPropertyListWidget::MakeWidgets(int n, CRowEntry& entry)
{
    const CPropertyRow& record = entry.record;
    QWidget* parent = m_grid->parentWidget();
    switch (record.kind) {
    case PROP_CATEGORY: {
        auto* heading = new QLabel(ToQString(record.name), parent);
        QFont bold = heading->font();
        bold.setBold(true);
        heading->setFont(bold);
        entry.editor = heading;
        m_grid->addWidget(heading, n, 0, 1, 2);
        return;
    }
    case PROP_BUTTON:
        entry.editor = MakeButton(n, record);
        m_grid->addWidget(entry.editor, n, 0, 1, 2);
        return;
    case PROP_CHOICE: entry.editor = MakeChoiceEditor(n, record); break;
    case PROP_TEXT: entry.editor = MakeTextEditor(n, record); break;
    case PROP_SPIN: entry.editor = MakeSpinEditor(n, record); break;
    case PROP_COLOR_INDEX: entry.editor = MakeColorEditor(n, record); break;
    default: {
        // Read-only, and any kind the list does not edit.
        auto* value = new QLabel(ToQString(record.value), parent);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        entry.editor = value;
        break;
    }
    }
    entry.name = new QLabel(ToQString(record.name), parent);
    m_grid->addWidget(entry.name, n, 0);
    m_grid->addWidget(entry.editor, n, 1);
}

QWidget* CPropertyListWidget::MakeChoiceEditor(int n, const CPropertyRow& record)
{
    auto* combo = new QComboBox(m_grid->parentWidget());
    for (const std::string& item : SplitChoices(record.choices))
        combo->addItem(ToQString(item));
    combo->setCurrentIndex(combo->findText(ToQString(record.value)));
    connect(combo, &QComboBox::activated, this,
            [this, n, combo](int index) { ApplyRow(n, index, combo->itemText(index).toStdString()); });
    return combo;
}

QWidget* CPropertyListWidget::MakeTextEditor(int n, const CPropertyRow& record)
{
    auto* edit = new QLineEdit(ToQString(record.value), m_grid->parentWidget());
    // Leaving an untouched field is no edit.
    connect(edit, &QLineEdit::editingFinished, this, [this, n, edit] {
        if (!edit->isModified())
            return;
        edit->setModified(false);
        ApplyRow(n, 0, edit->text().toStdString());
    });
    return edit;
}

QWidget* CPropertyListWidget::MakeSpinEditor(int n, const CPropertyRow& record)
{
    auto* spin = new QSpinBox(m_grid->parentWidget());
    spin->setRange(record.minimum, record.maximum);
    spin->setValue(record.number);
    // A typed number counts once it is complete, not at every key.
    spin->setKeyboardTracking(false);
    connect(spin, &QSpinBox::valueChanged, this, [this, n](int value) { ApplyRow(n, value, std::to_string(value)); });
    return spin;
}

QWidget* CPropertyListWidget::MakeColorEditor(int n, const CPropertyRow& record)
{
    auto* holder = new QWidget(m_grid->parentWidget());
    auto* layout = new QHBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* swatch = new QLabel(holder);
    swatch->setObjectName(QStringLiteral("swatch"));
    swatch->setPixmap(Swatch(record.number));
    auto* combo = new QComboBox(holder);
    combo->addItem(QIcon(Swatch(kColorByLayer)), ToQString(ColorName(kColorByLayer)), kColorByLayer);
    for (int index = kFirstPaletteIndex; index <= kLastPaletteIndex; ++index)
        combo->addItem(QIcon(Swatch(index)), ToQString(ColorName(index)), index);
    combo->setCurrentIndex(combo->findText(ToQString(record.value)));
    layout->addWidget(swatch);
    layout->addWidget(combo, 1);
    connect(combo, &QComboBox::activated, this, [this, n, combo](int item) {
        ApplyRow(n, combo->itemData(item).toInt(), combo->itemText(item).toStdString());
    });
    return holder;
}

QWidget* CPropertyListWidget::MakeButton(int n, const CPropertyRow& record)
{
    auto* button = new QPushButton(ToQString(record.name), m_grid->parentWidget());
    connect(button, &QPushButton::clicked, this, [this, n] { ApplyRow(n, 0, std::string()); });
    return button;
}

// ---- the apply protocol -------------------------------------------------------

int CPropertyListWidget::ApplyRow(int n, int value, const std::string& text)
{
    if (n < 0 || n >= GetRowCount())
        return PROP_REFUSED;
    CRowEntry* entry = m_rows[static_cast<std::size_t>(n)].get();
    if (!IsEditable(entry->record.kind) || !m_apply) {
        ShowRecord(*entry);
        return PROP_REFUSED;
    }
    const CPropertyRow before = entry->record;
    const std::uint64_t generation = m_generation;
    const int code = m_apply(n, value, text, &entry->record);
    if (generation == m_generation) {
        // A positive answer is a row no class took: refused as well.
        const bool applied = code == PROP_APPLIED || code == PROP_LAYER_CHANGED || code == PROP_GEOMETRY_CHANGED;
        if (!applied)
            entry->record = before;
        else if (SameRecord(entry->record, before))
            TakeEdit(entry->record, value, text);
        ShowRecord(*entry);
    }
    emit RowApplied(n, code);
    return code;
}

void CPropertyListWidget::ShowRecord(CRowEntry& entry)
{
    const CPropertyRow& record = entry.record;
    if (entry.name)
        entry.name->setText(ToQString(record.name));
    switch (record.kind) {
    case PROP_CHOICE:
        if (auto* combo = qobject_cast<QComboBox*>(entry.editor)) {
            const QSignalBlocker block(combo);
            combo->setCurrentIndex(combo->findText(ToQString(record.value)));
        }
        break;
    case PROP_TEXT:
        if (auto* edit = qobject_cast<QLineEdit*>(entry.editor)) {
            const QSignalBlocker block(edit);
            edit->setText(ToQString(record.value));
            edit->setModified(false);
        }
        break;
    case PROP_SPIN:
        if (auto* spin = qobject_cast<QSpinBox*>(entry.editor)) {
            const QSignalBlocker block(spin);
            spin->setValue(record.number);
        }
        break;
    case PROP_COLOR_INDEX:
        if (auto* swatch = entry.editor->findChild<QLabel*>(QStringLiteral("swatch")))
            swatch->setPixmap(Swatch(record.number));
        if (auto* combo = entry.editor->findChild<QComboBox*>()) {
            const QSignalBlocker block(combo);
            combo->setCurrentIndex(combo->findText(ToQString(record.value)));
        }
        break;
    case PROP_BUTTON:
        if (auto* button = qobject_cast<QPushButton*>(entry.editor))
            button->setText(ToQString(record.name));
        break;
    default:
        if (auto* label = qobject_cast<QLabel*>(entry.editor))
            label->setText(ToQString(record.kind == PROP_CATEGORY ? record.name : record.value));
        break;
    }
}

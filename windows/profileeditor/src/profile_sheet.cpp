#include "windows/profile_sheet.h"

#include "app/frame_placer.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QTimer>
#include <QVBoxLayout>

using namespace profile_editor;

namespace {

QString Q(std::u16string_view s)
{
    return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

std::u16string U(const QString& s)
{
    return s.toStdU16String();
}

} // namespace

// --- General -------------------------------------------------------------------

CProfilePageGeneral::CProfilePageGeneral() : CPropertyPageBase(kGeneralDialog)
{
    setWindowTitle(QStringLiteral("General"));
}

CProfilePropertySheet& CProfilePageGeneral::sheet() const
{
    return *static_cast<CProfilePropertySheet*>(Sheet());
}

bool CProfilePageGeneral::OnInitDialog()
{
    auto* layout = new QGridLayout(this);
    name = new QLineEdit(this);
    notes = new QPlainTextEdit(this);
    defaults = new QPushButton(QStringLiteral("&Defaults"), this);
    layout->addWidget(new QLabel(QStringLiteral("Name:"), this), 0, 0);
    layout->addWidget(name, 0, 1);
    layout->addWidget(new QLabel(QStringLiteral("Notes:"), this), 1, 0);
    layout->addWidget(notes, 1, 1);
    layout->addWidget(defaults, 2, 1, Qt::AlignRight);
    connect(defaults, &QPushButton::clicked, this, [this] { OnDefaults(); });
    load();
    return true;
}

void CProfilePageGeneral::load()
{
    name->setText(Q(sheet().Profile().Name));
    notes->setPlainText(Q(sheet().Profile().Notes));
}

platform::LRESULT CProfilePageGeneral::OnDeviceState(platform::WPARAM, platform::LPARAM)
{
    load();
    return 0;
}

void CProfilePageGeneral::OnDefaults()
{
    CProfilePropertySheet& s = sheet();
    if (!s.Host().Ask(DefaultsQuestion(s.Profile().Name)))
        return;
    s.Host().Locked([&s] { s.Profile().SetDefaults(); });
    s.NotifyPages(app::PN_DEVICE_STATE, 0, 0);
}

bool CProfilePageGeneral::OnKillActive()
{
    CProfilePropertySheet& s = sheet();
    bool valid = false;
    s.Host().Locked([&] { valid = CommitGeneral(s.Profile(), U(name->text()), U(notes->toPlainText())); });
    if (valid)
        return true;
    s.Host().Message(std::u16string(kInvalidName));
    // The tab has already moved on when this runs from a tab change.
    QTimer::singleShot(0, &s, [&s] { s.SetActivePage(0); });
    return false;
}

void CProfilePageGeneral::OnOK()
{
    sheet().Host().Locked([this] { CommitGeneral(sheet().Profile(), U(name->text()), U(notes->toPlainText())); });
}

// --- Motion ----------------------------------------------------------------------

CProfilePageMotion::CProfilePageMotion() : CPropertyPageBase(kMotionDialog)
{
    setWindowTitle(QStringLiteral("Motion"));
}

CProfilePageMotion::~CProfilePageMotion()
{
    Close();
}

CProfilePropertySheet& CProfilePageMotion::sheet() const
{
    return *static_cast<CProfilePropertySheet*>(Sheet());
}

bool CProfilePageMotion::OnInitDialog()
{
    IProfileEditorHost& host = sheet().Host();
    auto* layout = new QVBoxLayout(this);

    auto* mode = new QHBoxLayout;
    mode->addWidget(new QLabel(QStringLiteral("Tracking:"), this));
    const char* labels[] = {"&Dot", "&Pendrix", "&Halvexor", "Custo&m"};
    for (std::size_t i = 0; i < radios.size(); ++i) {
        radios[i] = new QRadioButton(QString::fromUtf8(labels[i]), this);
        mode->addWidget(radios[i]);
        connect(radios[i], &QRadioButton::clicked, this, [this] { OnRadio(); });
    }
    radios[3]->hide();
    customEdit = new QPushButton(QStringLiteral("Edit"), this);
    customEdit->hide();
    mode->addWidget(customEdit);
    trueView = new QCheckBox(QStringLiteral("True&View"), this);
    mode->addWidget(trueView);
    layout->addLayout(mode);
    connect(trueView, &QCheckBox::clicked, this,
            [this](bool on) { sheet().Host().Locked([this, on] { sheet().Profile().TrueView = on ? 1 : 0; }); });

    list = new CXListCtrl(this);
    list->InsertColumn(0, QStringLiteral("Axis"), CXAlign::Left, 65);
    list->InsertColumn(1, QStringLiteral("Enabled"), CXAlign::Left, 75);
    list->InsertColumn(2, QStringLiteral("Invert"), CXAlign::Left, 75);
    list->InsertColumn(3, QStringLiteral("Acceleration"), CXAlign::Left, 100);
    list->SetHeaderImageList(StandardHeaderImages());
    layout->addWidget(list);
    connect(list, &CXListCtrl::checkboxClicked, this, [this](int row, int column) {
        const bool on = list->GetCellCheck(row, column) == 1;
        sheet().Host().Locked([&] { ApplyAxisCheck(sheet().Profile(), row, column, on); });
    });
    connect(list, &CXListCtrl::comboSelection, this, [this](int row, int column) {
        const int type = list->GetComboSelection(row, column);
        sheet().Host().Locked([&] { ApplyAxisCurve(sheet().Profile(), row, type); });
    });
    connect(list, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid()) OnEditAxis();
    });

    editAxis = new QPushButton(QStringLiteral("&Edit axis..."), this);
    layout->addWidget(editAxis);
    connect(editAxis, &QPushButton::clicked, this, [this] { OnEditAxis(); });
    connect(list->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current, const QModelIndex&) {
                editAxis->setEnabled(current.isValid());
                if (current.isValid()) editAxis->setText(Q(EditAxisButtonText(current.row())));
            });

    auto* smooth = new QHBoxLayout;
    smooth->addWidget(new QLabel(QStringLiteral("Smoothing:"), this));
    less = new QPushButton(QStringLiteral("<"), this);
    smoothing = new QSlider(Qt::Horizontal, this);
    more = new QPushButton(QStringLiteral(">"), this);
    smoothingValue = new QLabel(this);
    smooth->addWidget(less);
    smooth->addWidget(smoothing);
    smooth->addWidget(more);
    smooth->addWidget(smoothingValue);
    layout->addLayout(smooth);
    connect(smoothing, &QSlider::valueChanged, this, [this](int v) { OnSmoothing(v); });
    connect(less, &QPushButton::clicked, this, [this] { smoothing->setValue(smoothing->value() - 1); });
    connect(more, &QPushButton::clicked, this, [this] { smoothing->setValue(smoothing->value() + 1); });

    auto* preview = new QHBoxLayout;
    heads = new QCheckBox(QStringLiteral("&Heads"), this);
    gauges = new QCheckBox(QStringLiteral("&Gauges"), this);
    tracking = new QCheckBox(QStringLiteral("&Tracking"), this);
    world = new QCheckBox(QStringLiteral("&World"), this);
    world->hide();
    for (QCheckBox* b : {heads, gauges, tracking, world}) preview->addWidget(b);
    layout->addLayout(preview);
    heads->setChecked(host.LaunchFlag(kHeads) != 0);
    gauges->setChecked(host.LaunchFlag(kGauges) != 0);
    tracking->setChecked(host.LaunchFlag(kTracking) != 0);
    world->setChecked(host.LaunchFlag(kGlobe) != 0);

    previews_ = std::make_unique<CPreviewWindows>(host);
    const std::pair<QCheckBox*, int> boxes[] = {{heads, kHeads}, {gauges, kGauges}, {tracking, kTracking}};
    for (const auto& [box, window] : boxes) {
        const int w = window;
        connect(box, &QCheckBox::clicked, this, [this, w](bool on) { previews_->Click(w, on); });
    }

    load();
    previews_->Init();
    return true;
}

void CProfilePageMotion::load()
{
    const CProfile& p = sheet().Profile();
    radios[static_cast<std::size_t>(RadioForMotionType(p.MotionType))]->setChecked(true);
    customEdit->setVisible(CustomEditVisible(p.MotionType));
    trueView->setChecked(p.TrueView != 0);
    smoothing->blockSignals(true);
    smoothing->setRange(kSmoothingMin, kSmoothingMax);
    smoothing->setValue(SmoothingSliderPosition(p));
    smoothing->blockSignals(false);
    smoothingValue->setText(Q(SmoothingText(smoothing->value())));
    fillList();
}

void CProfilePageMotion::fillList()
{
    list->setUpdatesEnabled(false);
    list->DeleteAllRows();
    static const CXComboStrings names = [] {
        auto v = std::make_shared<std::vector<std::u16string>>();
        for (auto n : CurveTypeNames()) v->emplace_back(n);
        return CXComboStrings(v);
    }();
    const auto rows = AxisRows(sheet().Profile());
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const AxisRow& row = rows[static_cast<std::size_t>(r)];
        list->AddRow(r, Q(row.name));
        list->SetCellText(r, 1, QString());
        list->SetCellCheck(r, 1, row.enabled ? 1 : 0);
        list->SetCellText(r, 2, QString());
        list->SetCellCheck(r, 2, row.inverted ? 1 : 0);
        list->SetCellCombo(r, 3, true, names, kCurveNameCount, row.curveType);
        for (int c = 0; c < 4; ++c) list->SetCellToolTip(r, c, Q(row.toolTip));
    }
    list->SelectRow(0);
    list->setUpdatesEnabled(true);
}

platform::LRESULT CProfilePageMotion::OnDeviceState(platform::WPARAM, platform::LPARAM)
{
    load();
    return 0;
}

void CProfilePageMotion::OnRadio()
{
    CProfilePropertySheet& s = sheet();
    const std::int32_t type = MotionTypeFromRadios(radios[0]->isChecked(), radios[2]->isChecked(),
                                                   radios[3]->isChecked());
    s.Host().Locked([&s, type] { s.Profile().MotionType = type; });
    fillList();
    s.Host().ApplyTrackingSettings();
    s.Host().Recenter();
    customEdit->setVisible(CustomEditVisible(s.Profile().MotionType));
    s.Host().NotifyStateChanged();
}

void CProfilePageMotion::OnEditAxis()
{
    const int row = list->GetSelectedRow();
    if (row < 0 || row >= list->GetRowCount()) return;
    CProfile& live = sheet().Profile();
    const CProfile saved = live;
    if (sheet().Host().EditCurve(live, row)) {
        fillList();
        list->SelectRow(row);
    } else {
        sheet().Host().Locked([&live, &saved] { live = saved; });
    }
}

void CProfilePageMotion::OnSmoothing(int position)
{
    int stored = position;
    sheet().Host().Locked([&] { stored = StoreSmoothing(sheet().Profile(), position); });
    smoothingValue->setText(Q(SmoothingText(stored)));
}

void CProfilePageMotion::Close()
{
    if (closed_ || !previews_) return;
    closed_ = true;
    previews_->Destroy();
}

// --- HotKeys -------------------------------------------------------------------

CProfilePageHotKeys::CProfilePageHotKeys() : CPropertyPageBase(kHotKeysDialog)
{
    setWindowTitle(QStringLiteral("Hot Keys"));
}

CProfilePropertySheet& CProfilePageHotKeys::sheet() const
{
    return *static_cast<CProfilePropertySheet*>(Sheet());
}

bool CProfilePageHotKeys::OnInitDialog()
{
    auto* layout = new QGridLayout(this);
    const char* titles[] = {"Center", "Pause", "Precision"};
    const char* change[] = {"Ch&ange...", "C&hange...", "Cha&nge..."};
    for (int i = 0; i < 3; ++i) {
        Row& r = rows[static_cast<std::size_t>(i)];
        layout->addWidget(new QLabel(QString::fromUtf8(titles[i]), this), i, 0);
        r.key = new QLabel(this);
        layout->addWidget(r.key, i, 1);
        r.change = new QPushButton(QString::fromUtf8(change[i]), this);
        layout->addWidget(r.change, i, 2);
        r.enable = new QCheckBox(QStringLiteral("Enable"), this);
        layout->addWidget(r.enable, i, 3);
        connect(r.enable, &QCheckBox::clicked, this, [this] { onFlag(false); });
        if (i != 0) {
            r.toggle = new QCheckBox(QStringLiteral("Toggle"), this);
            layout->addWidget(r.toggle, i, 4);
            const bool pause = i == 1;
            connect(r.toggle, &QCheckBox::clicked, this, [this, pause] { onFlag(pause); });
        }
        r.trap = new QCheckBox(QStringLiteral("Trap"), this);
        layout->addWidget(r.trap, i, 5);
        connect(r.trap, &QCheckBox::clicked, this, [this] { onFlag(false); });
        connect(r.change, &QPushButton::clicked, this, [this, i] {
            sheet().Host().EditHotKey(i, sheet().Profile().HotKeys);
            load();
            sheet().Host().NotifyStateChanged();
        });
    }
    refresh = new QPushButton(QStringLiteral("&Refresh DirectInput"), this);
    layout->addWidget(refresh, 3, 0, 1, 2);
    connect(refresh, &QPushButton::clicked, this, [this] { sheet().Host().RefreshActions(); });
    load();
    return true;
}

void CProfilePageHotKeys::load()
{
    const CHotKeys& keys = sheet().Profile().HotKeys;
    const HotKeyFlags f = LoadHotKeyFlags(keys);
    rows[0].enable->setChecked(f.centerEnable != 0);
    rows[0].trap->setChecked(f.centerTrap != 0);
    rows[1].enable->setChecked(f.pauseEnable != 0);
    rows[1].toggle->setChecked(f.pauseToggle != 0);
    rows[1].trap->setChecked(f.pauseTrap != 0);
    rows[2].enable->setChecked(f.precisionEnable != 0);
    rows[2].toggle->setChecked(f.precisionToggle != 0);
    rows[2].trap->setChecked(f.precisionTrap != 0);
    for (int i = 0; i < 3; ++i) {
        const CKeyInfo key = keys.GetAt(i);
        Row& r = rows[static_cast<std::size_t>(i)];
        r.key->setText(Q(key.Name));
        r.trap->setEnabled(TrapAvailable(key));
    }
}

void CProfilePageHotKeys::onFlag(bool pauseToggle)
{
    HotKeyFlags f;
    f.centerEnable = rows[0].enable->isChecked() ? 1 : 0;
    f.centerTrap = rows[0].trap->isChecked() ? 1 : 0;
    f.pauseEnable = rows[1].enable->isChecked() ? 1 : 0;
    f.pauseToggle = rows[1].toggle->isChecked() ? 1 : 0;
    f.pauseTrap = rows[1].trap->isChecked() ? 1 : 0;
    f.precisionEnable = rows[2].enable->isChecked() ? 1 : 0;
    f.precisionToggle = rows[2].toggle->isChecked() ? 1 : 0;
    f.precisionTrap = rows[2].trap->isChecked() ? 1 : 0;
    CHotKeys& keys = sheet().Profile().HotKeys;
    sheet().Host().Locked([&] { StoreHotKeyFlags(keys, f); });
    sheet().Host().SetHotKeys(keys);
    if (pauseToggle) sheet().Host().ResetPauseState();
}

platform::LRESULT CProfilePageHotKeys::OnDeviceState(platform::WPARAM, platform::LPARAM)
{
    load();
    return 0;
}

// --- Sheet ---------------------------------------------------------------------

CProfilePropertySheet::CProfilePropertySheet(CProfile& profile, IProfileEditorHost& host, QWidget* parent)
    : CPropertySheetBase(QString(), parent),
      profile_(profile),
      host_(host),
      general_(new CProfilePageGeneral),
      motion_(new CProfilePageMotion),
      hotKeys_(new CProfilePageHotKeys)
{
    AddPage(general_);
    AddPage(motion_);
    AddPage(hotKeys_);
    SetButtons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    // The editor runs on its own; its notifications are always live.
    SetRunFlag(true);
    SetNewProfile(0);
    // Centred over the main window, it may reach above the screen: its frame
    // is kept on the work area once the window system has framed it.
    (new app::CFramePlacer(this, std::nullopt))->Watch();
}

CProfilePropertySheet::~CProfilePropertySheet() = default;

void CProfilePropertySheet::SetNewProfile(int flag)
{
    newProfile_ = flag;
    SetActivePage(StartPage(flag));
}

void CProfilePropertySheet::SetCaption(const std::u16string& name)
{
    setWindowTitle(Q(Caption(newProfile_, name)));
}

void CProfilePropertySheet::done(int result)
{
    motion_->Close();
    CPropertySheetBase::done(result);
}

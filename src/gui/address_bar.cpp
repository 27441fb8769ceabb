#include "gui/address_bar.hpp"

#include <QApplication>
#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QToolButton>

#include <mutex>
#include <system_error>

#include "api/site_settings.hpp"
#include "app/list_commands.hpp"
#include "gui/qt_text.hpp"
#include "gui/window_core.hpp"
#include "gui/window_services.hpp"
#include "source/address_classification.hpp"
#include "support/gbk_literal.hpp"

namespace vq::gui {

// The readers report their end on a reader thread, possibly while this bar is being
// destroyed; the relay is shared with the callback and forgets the bar under its lock.
struct AddressBar::ReaderRelay {
    std::mutex mutex;
    AddressBar* bar = nullptr;

    void readers_finished() {
        std::lock_guard lock(mutex);
        if (!bar) return;
        AddressBar* target = bar;
        // Queued to the bar itself: Qt drops the call if the bar is gone by then.
        QMetaObject::invokeMethod(target, [target] { target->readers_ended(); },
                                  Qt::QueuedConnection);
    }
};

namespace {

const QString kListFilter = QStringLiteral("宝贝列表文件(*.txt)|*.txt");

// A small shop front with a striped awning: the example button's picture.
QIcon example_shop_icon() {
    constexpr int kSize = 16;
    constexpr qreal kScale = 2.0;
    QPixmap pixmap(static_cast<int>(kSize * kScale), static_cast<int>(kSize * kScale));
    pixmap.setDevicePixelRatio(kScale);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);

    const QColor wall(0xf4, 0xf1, 0xe8);
    const QColor frame(0x3a, 0x5f, 0x7d);
    const QColor stripe(0xd9, 0x4f, 0x3d);
    p.setPen(QPen(frame, 1.0));
    p.setBrush(wall);
    p.drawRect(QRectF(2.5, 6.5, 11, 8));
    // Awning: alternating stripes with a scalloped edge.
    for (int i = 0; i < 4; ++i) {
        const QRectF band(1.5 + i * 3.25, 2.5, 3.25, 4);
        p.setPen(Qt::NoPen);
        p.setBrush(i % 2 == 0 ? stripe : QColor(Qt::white));
        p.drawRect(band);
        p.drawEllipse(QRectF(band.left(), band.bottom() - 1.5, band.width(), 3));
    }
    p.setPen(QPen(frame, 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(1.5, 2.5, 13, 4));
    // Door and window.
    p.setBrush(frame);
    p.drawRect(QRectF(4.5, 9.5, 3, 5));
    p.setBrush(QColor(0xb8, 0xd8, 0xf0));
    p.drawRect(QRectF(9.5, 9.5, 3, 3));
    p.end();
    return QIcon(pixmap);
}

}  // namespace

AddressBar::AddressBar(WindowCore& core, WindowServices& services, QWidget* parent)
    : QWidget(parent), core_(core), services_(services), relay_(std::make_shared<ReaderRelay>()) {
    label_ = new QLabel(qt_text(initial_address_label()), this);
    // The box starts with the single-product hint although no mode is chosen yet.
    box_ = new QLineEdit(QStringLiteral("请输入宝贝地址"), this);
    box_->setMinimumWidth(320);
    box_->installEventFilter(this);
    label_->setBuddy(box_);

    example_ = new QToolButton(this);
    example_->setIcon(example_shop_icon());
    example_->setIconSize(QSize(16, 16));
    example_->setToolTip(QStringLiteral("示例店铺地址"));
    example_->setFocusPolicy(Qt::NoFocus);
    example_->setFixedSize(box_->sizeHint().height(), box_->sizeHint().height());

    add_ = new QPushButton(QStringLiteral("添加到列表"), this);
    import_ = new QPushButton(QStringLiteral("导入列表"), this);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->addWidget(label_);
    row->addWidget(box_, 1);
    row->addSpacing(-2);  // the example button belongs to the box
    row->addWidget(example_);
    row->addSpacing(6);
    row->addWidget(add_);
    row->addWidget(import_);

    // A hint is shown greyed, so it does not read as a typed address.
    auto showHint = [this](const QString& text) {
        const bool hint = !text.isEmpty() && address_box_after_press(gbk_text(text)).empty();
        QPalette look = box_->palette();
        look.setColor(QPalette::Text, hint ? look.color(QPalette::PlaceholderText)
                                           : QApplication::palette(box_).color(QPalette::Text));
        box_->setPalette(look);
    };
    showHint(box_->text());
    connect(box_, &QLineEdit::textChanged, this, showHint);

    connect(example_, &QToolButton::clicked, this, &AddressBar::fill_example);
    connect(add_, &QPushButton::clicked, this, &AddressBar::add_to_list);
    connect(import_, &QPushButton::clicked, this, &AddressBar::import_list);

    relay_->bar = this;
    core_.readers.set_finished_callback([relay = relay_] { relay->readers_finished(); });
}

AddressBar::~AddressBar() {
    stop();
    std::lock_guard lock(relay_->mutex);
    relay_->bar = nullptr;
}

void AddressBar::apply_page_switch(const PageSwitch& change) {
    if (change.addressLabel) label_->setText(qt_text(*change.addressLabel));
    if (!change.addressMode) return;
    const AddressMode mode = core_.state.addressMode.load();
    box_->setText(qt_text(address_box_after_mode_change(gbk_text(box_->text()), mode,
                                                        *change.addressMode)));
    core_.state.addressMode.store(*change.addressMode);
}

void AddressBar::on_address_box_pressed() {
    const QString text = qt_text(address_box_after_press(gbk_text(box_->text())));
    if (text != box_->text()) box_->setText(text);
}

void AddressBar::on_address_box_left() {
    const QString text =
        qt_text(address_box_after_leave(gbk_text(box_->text()), core_.state.addressMode.load()));
    if (text != box_->text()) box_->setText(text);
}

void AddressBar::fill_example() {
    box_->setText(qt_text(site_settings().example_shop));
}

void AddressBar::add_to_list() {
    if (waitingReaders_ && !commandRunning_) {
        stop_reading();
        return;
    }
    if (adding_) return;
    if (command_.joinable()) command_.join();  // returned already; only the join is left

    std::string address = gbk_text(box_->text());
    const AddressMode mode = core_.state.addressMode.load();
    cancel_ = std::make_unique<CancelToken>();
    commandRunning_ = true;
    update_add_button();

    // The command fetches pages; it must not hold up the window.
    auto command = [this, address = std::move(address), mode, token = cancel_.get()] {
        CancelScope scope(*token);
        const AddOutcome outcome = add_address_to_list(
            address, mode, AddAddressPorts{&core_.list, &core_.log, core_.clock, &core_.readers});
        const bool jobStarted = outcome == AddOutcome::JobStarted;
        // stop() joins this thread before the bar goes away, so `this` is alive here; the
        // queued call is dropped if the bar is destroyed before it runs.
        QMetaObject::invokeMethod(this, [this, jobStarted] { command_ended(jobStarted); },
                                  Qt::QueuedConnection);
    };
    try {
        command_ = std::thread(std::move(command));
    } catch (const std::system_error&) {
        commandRunning_ = false;
        update_add_button();
        services_.message(this, QStringLiteral("提示"), QStringLiteral("系统繁忙，请稍后再试！"));
    }
}

void AddressBar::stop_reading() {
    if (!core_.readers.running()) return;
    // Requests in flight are aborted, so this returns at once.
    core_.readers.stop();
    core_.log.append_log(log_time_stamp(core_.clock ? *core_.clock : system_clock()) +
                         "  已停止读取宝贝列表，已添加的宝贝留在列表中。\r\n"_gbk);
    waitingReaders_ = false;
    update_add_button();
}

void AddressBar::import_list() {
    const QString path =
        services_.open_file_name(this, kListFilter, QStringLiteral("txt"), list_folder(core_));
    if (path.isEmpty()) return;
    core_.listFolder = QFileInfo(path).absolutePath();
    // The rows already there may be a long shop read: the user says what becomes of them.
    ImportMode mode = ImportMode::Replace;
    if (const int rows = core_.list.row_count(); rows > 0) {
        mode = services_.confirm(this, QStringLiteral("导入列表"),
                                 QStringLiteral("列表中已有 %1 个宝贝。要用导入的宝贝替换它们吗？\n"
                                                "选“否”则把导入的宝贝添加到列表后面。")
                                     .arg(rows))
                   ? ImportMode::Replace
                   : ImportMode::Add;
    }
    const ListCommandResult result =
        vq::import_list(core_.list, gbk_text(path), &core_.log, core_.clock, mode);
    if (result.ok && mode == ImportMode::Replace) emit listReplaced();
    if (result.message.empty()) return;
    services_.message(this, result.title.empty() ? QStringLiteral("提示") : qt_text(result.title),
                      qt_text(result.message));
}

void AddressBar::stop() {
    if (cancel_) cancel_->cancel();
    if (command_.joinable()) command_.join();
}

bool AddressBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == box_) {
        if (event->type() == QEvent::MouseButtonPress) {
            on_address_box_pressed();
        } else if (event->type() == QEvent::FocusOut) {
            on_address_box_left();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void AddressBar::command_ended(bool job_started) {
    if (command_.joinable()) command_.join();
    commandRunning_ = false;
    // The readers may have ended before this call arrived; then there is nothing to wait for.
    if (job_started && core_.readers.running()) waitingReaders_ = true;
    update_add_button();
}

void AddressBar::readers_ended() {
    if (!core_.readers.running()) waitingReaders_ = false;
    update_add_button();
}

void AddressBar::update_add_button() {
    const bool busy = commandRunning_ || waitingReaders_;
    const bool reading = waitingReaders_ && !commandRunning_;
    add_->setText(reading ? QStringLiteral("停止读取") : QStringLiteral("添加到列表"));
    add_->setEnabled(!busy || reading);
    const bool wasAdding = adding_;
    adding_ = busy;
    if (wasAdding && !busy) emit addFinished();
}

}  // namespace vq::gui

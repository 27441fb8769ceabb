#include "gui/run_panel.hpp"

#include <QCoreApplication>
#include <QEvent>
#include <QFont>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPalette>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QTextCursor>
#include <QVBoxLayout>

#include <algorithm>

#include "app/startup.hpp"
#include "model/list_file.hpp"
#include "api/api_token.hpp"
#include "api/product_api_source.hpp"
#include "api/site_settings.hpp"
#include "gui/qt_text.hpp"
#include "gui/watch_window.hpp"
#include "output/package_check.hpp"
#include "output/source_file.hpp"
#include "support/gbk_literal.hpp"
#include "support/files.hpp"
#include "gui/window_core.hpp"
#include "gui/window_services.hpp"
#include "support/files.hpp"

namespace vq::gui {

namespace {

// A log line's time stamp on the window's clock.
std::string stamp_of(const WindowCore& core) {
    return log_time_stamp(core.clock ? *core.clock : system_clock());
}


const QString kPauseCaption = QStringLiteral("暂停");
const QString kContinueCaption = QStringLiteral("继续");

// Room for the totals; the window grows with the details of a run that has them.
constexpr int kCompletionWidth = 360;
constexpr int kCompletionHeight = 320;
constexpr int kDetailsWidth = 560;
constexpr int kDetailsHeight = 460;
const QString kWarningStyle = QStringLiteral("color: #b3261e;");

}  // namespace

CompletionWindow::CompletionWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("completionWindow"));
    setWindowTitle(QStringLiteral("复制完成！"));
    setWindowModality(Qt::NonModal);
    setMinimumSize(kCompletionWidth, kCompletionHeight);
    resize(kCompletionWidth, kCompletionHeight);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(22, 16, 22, 14);
    layout->setSpacing(6);

    heading_ = new QLabel(QStringLiteral("复制已经完成："), this);
    heading_->setObjectName(QStringLiteral("completionHeading"));
    QFont bold = heading_->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.15);
    heading_->setFont(bold);
    layout->addWidget(heading_);

    auto* rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    layout->addWidget(rule);

    // The captions are all four characters and a colon, so the numbers line up.
    auto make_line = [this, layout](const QString& name) {
        auto* label = new QLabel(this);
        label->setObjectName(name);
        label->setContentsMargins(12, 0, 0, 0);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        layout->addWidget(label);
        return label;
    };
    total_ = make_line(QStringLiteral("completionTotal"));
    succeeded_ = make_line(QStringLiteral("completionSucceeded"));
    failed_ = make_line(QStringLiteral("completionFailed"));
    pictures_ = make_line(QStringLiteral("completionPictures"));
    skipped_ = make_line(QStringLiteral("completionSkipped"));
    skipped_->hide();
    notDone_ = make_line(QStringLiteral("completionNotDone"));
    notDone_->hide();
    check_ = make_line(QStringLiteral("completionCheck"));
    check_->setWordWrap(true);
    unwritten_ = make_line(QStringLiteral("completionUnwritten"));
    unwritten_->setWordWrap(true);
    unwritten_->setStyleSheet(kWarningStyle);
    unwritten_->hide();
    failedList_ = make_line(QStringLiteral("completionFailedList"));
    failedList_->setWordWrap(true);
    failedList_->hide();
    unsaved_ = make_line(QStringLiteral("completionUnsaved"));
    unsaved_->setWordWrap(true);
    unsaved_->setStyleSheet(kWarningStyle);
    unsaved_->hide();
    // Which products lost pictures and what the check found, not only how many.
    details_ = new QPlainTextEdit(this);
    details_->setObjectName(QStringLiteral("completionDetails"));
    details_->setReadOnly(true);
    details_->setLineWrapMode(QPlainTextEdit::NoWrap);
    details_->hide();
    layout->addWidget(details_, 10);

    layout->addStretch(1);
    auto* buttons = new QHBoxLayout;
    retry_ = new QPushButton(QStringLiteral("重试失败的宝贝"), this);
    retry_->setObjectName(QStringLiteral("completionRetry"));
    retry_->hide();
    buttons->addWidget(retry_);
    buttons->addStretch(1);
    close_ = new QPushButton(QStringLiteral("确定"), this);
    close_->setObjectName(QStringLiteral("completionClose"));
    close_->setDefault(true);
    close_->setMinimumWidth(80);
    buttons->addWidget(close_);
    layout->addLayout(buttons);
    connect(close_, &QPushButton::clicked, this, &QWidget::close);
    connect(retry_, &QPushButton::clicked, this, &CompletionWindow::retryRequested);
}

void CompletionWindow::show_totals(const RunTotals& totals) {
    setWindowTitle(totals.stopped ? QStringLiteral("复制已停止！") : QStringLiteral("复制完成！"));
    heading_->setText(totals.stopped ? QStringLiteral("复制已经停止：") : QStringLiteral("复制已经完成："));
    // Parts written before stay in the table: say so, not that nothing was written.
    const QString onDisk = totals.rowsWritten > 0
                               ? QStringLiteral("数据包中只有之前写入的 %1 个宝贝。").arg(totals.rowsWritten)
                               : QStringLiteral("没有写入数据包。");
    if (!totals.stopReason.empty()) {
        unwritten_->setText(qt_text(totals.stopReason) + QStringLiteral("，") + onDisk);
    } else if (totals.stopped) {
        unwritten_->setText(QStringLiteral("已停止：") + onDisk);
    } else {
        unwritten_->setText(QStringLiteral("数据包文件未能写入，请查看操作记录！"));
    }
    unwritten_->setVisible(!totals.packageWritten);
    total_->setText(QStringLiteral("下载总数： ") + QString::number(totals.productCount));
    succeeded_->setText(QStringLiteral("成功下载： ") + QString::number(totals.succeeded));
    failed_->setText(QStringLiteral("下载失败： ") + QString::number(totals.failed));
    pictures_->setText(QStringLiteral("图片失败：") + QString::number(totals.failedPictures));
    pictures_->setStyleSheet(totals.failedPictures > 0 ? kWarningStyle : QString());
    skipped_->setText(QStringLiteral("重复跳过：") + QString::number(totals.skipped));
    skipped_->setVisible(totals.skipped > 0);
    notDone_->setText(QStringLiteral("未完成：") + QString::number(totals.notDone));
    notDone_->setVisible(totals.stopped);
    check_->setText(qt_text(totals.checkSummary));
    check_->setStyleSheet(totals.checkClean ? QString() : kWarningStyle);
    check_->setVisible(!totals.checkSummary.empty());
    const bool failedList = !totals.failedListPath.empty();
    failedList_->setText((totals.stopped ? QStringLiteral("待续列表：") : QStringLiteral("失败列表：")) +
                         qt_text(totals.failedListPath));
    failedList_->setVisible(failedList);
    const std::string unsaved = unsaved_rest_note(totals);
    unsaved_->setText(qt_text(unsaved));
    unsaved_->setVisible(!unsaved.empty());
    retry_->setText(totals.stopped ? QStringLiteral("继续未完成的宝贝") : QStringLiteral("重试失败的宝贝"));
    retry_->setVisible(failedList);
    QStringList lines;
    for (const std::string& line : totals.pictureLosses) lines << qt_text(line);
    for (const std::string& line : totals.checkProblems) lines << qt_text(line);
    for (const std::string& line : totals.checkWarnings) lines << qt_text(line);
    details_->setPlainText(lines.join(QLatin1Char('\n')));
    details_->setVisible(!lines.isEmpty());
    if (lines.isEmpty()) {
        resize(kCompletionWidth, kCompletionHeight);
    } else {
        resize(std::max(width(), kDetailsWidth), std::max(height(), kDetailsHeight));
    }
    show();

    // Over the window it belongs to, where the user looks, not in a corner of the screen.
    const QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    QRect area;
    if (owner && owner->isVisible()) {
        area = owner->frameGeometry();
    } else if (QScreen* where = screen() ? screen() : QGuiApplication::primaryScreen()) {
        area = where->availableGeometry();
    }
    if (!area.isEmpty()) {
        const QSize outer = frameGeometry().size();
        move(area.center() - QPoint(outer.width() / 2, outer.height() / 2));
    }
    raise();
}

LogPane::LogPane(GuiLog& log, QWidget* parent) : QPlainTextEdit(parent) {
    setObjectName(QStringLiteral("logPane"));
    setReadOnly(true);
    // The pane only grows; an undo history of every append would double its memory.
    setUndoRedoEnabled(false);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    connect(&log, &GuiLog::appended, this, [this](const QString& text) {
        moveCursor(QTextCursor::End);
        insertPlainText(text);
        QScrollBar* bar = verticalScrollBar();
        bar->setValue(bar->maximum());
    });
}

RunPanel::RunPanel(WindowCore& core, WindowServices& services, QWidget* parent)
    : QWidget(parent), core_(core), services_(services) {
    setObjectName(QStringLiteral("runPanel"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 8, 2, 6);
    layout->setSpacing(8);

    auto* pathRow = new QHBoxLayout;
    pathRow->setSpacing(6);
    auto* pathLabel = new QLabel(QStringLiteral("保存路径："), this);
    path_ = new QLineEdit(this);
    path_->setObjectName(QStringLiteral("outputPath"));
    // Only "更改" changes the path, so the package file and its picture folder always
    // come from the same choice.
    path_->setReadOnly(true);
    // Shown on the window's own background, as read-only fields are, so it does not
    // invite typing.
    QPalette readOnlyLook = path_->palette();
    readOnlyLook.setColor(QPalette::Base, readOnlyLook.color(QPalette::Window));
    path_->setPalette(readOnlyLook);
    pathLabel->setBuddy(path_);
    change_ = new QPushButton(QStringLiteral("更改"), this);
    change_->setObjectName(QStringLiteral("changeOutputPath"));
    pathRow->addWidget(pathLabel);
    pathRow->addWidget(path_, 1);
    pathRow->addWidget(change_);
    layout->addLayout(pathRow);
    nextRunNote_ = new QLabel(
        QStringLiteral("正在生成的数据包仍写到开始时的保存路径；新路径从下一次生成数据包起使用。"),
        this);
    nextRunNote_->setObjectName(QStringLiteral("nextRunNote"));
    nextRunNote_->setStyleSheet(QStringLiteral("color: #8a6a3c;"));
    nextRunNote_->hide();
    layout->addWidget(nextRunNote_);

    auto* runRow = new QHBoxLayout;
    runRow->setSpacing(6);
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("runProgress"));
    progress_->setTextVisible(true);
    progress_->setAlignment(Qt::AlignCenter);
    start_ = new QPushButton(QStringLiteral("生成数据包"), this);
    start_->setObjectName(QStringLiteral("startRun"));
    QFont bold = start_->font();
    bold.setBold(true);
    start_->setFont(bold);
    start_->setMinimumWidth(110);
    pause_ = new QPushButton(kPauseCaption, this);
    pause_->setObjectName(QStringLiteral("pauseRun"));
    pause_->setMinimumWidth(72);
    stop_ = new QPushButton(QStringLiteral("停止"), this);
    stop_->setObjectName(QStringLiteral("stopRun"));
    stop_->setMinimumWidth(72);
    runRow->addWidget(progress_, 1);
    runRow->addSpacing(10);
    runRow->addWidget(start_);
    watch_ = new QPushButton(QStringLiteral("检查货源变化"), this);
    watch_->setObjectName(QStringLiteral("watchSupplier"));
    watch_->setToolTip(QStringLiteral("重新获取保存路径中数据包的宝贝，列出供货商改动的价格、库存、规格和下架的宝贝"));
    runRow->addWidget(watch_);
    runRow->addWidget(pause_);
    runRow->addWidget(stop_);
    layout->addLayout(runRow);

    // The run row is the one the user watches: a little taller, the bar as tall as its buttons.
    const int runRowHeight = start_->sizeHint().height() + 6;
    for (QWidget* widget : {static_cast<QWidget*>(progress_), static_cast<QWidget*>(start_),
                            static_cast<QWidget*>(pause_), static_cast<QWidget*>(stop_),
                            static_cast<QWidget*>(watch_)}) {
        widget->setFixedHeight(runRowHeight);
    }

    connect(start_, &QPushButton::clicked, this, &RunPanel::start_run);
    connect(pause_, &QPushButton::clicked, this, &RunPanel::toggle_pause);
    connect(stop_, &QPushButton::clicked, this, &RunPanel::stop_run);
    connect(change_, &QPushButton::clicked, this, &RunPanel::choose_output_path);
    connect(watch_, &QPushButton::clicked, this, &RunPanel::start_watch);

    // Queued over from the workers. The state is read afresh from the controller, so a
    // late report of an earlier run cannot put the buttons in the wrong state.
    connect(&core_.observer, &GuiRunObserver::stateChanged, this, [this](int) { update_buttons(); });
    connect(&core_.observer, &GuiRunObserver::progress, this, &RunPanel::show_progress);
    connect(&core_.observer, &GuiRunObserver::completed, this, &RunPanel::show_completion);

    show_progress(0, 0, 0);
    update_buttons();
}

void RunPanel::start_watch() {
    if (watchJob_ || core_.controller.state() != RunState::Idle) return;
    const OutputPathChoice package = derive_output_path(gbk_text(path_->text()));
    if (!package.ok || !file_exists(package.path)) {
        services_.message(this, QStringLiteral("检查货源变化"),
                          QStringLiteral("保存路径中的数据包不存在，请先生成数据包或用“更改”选择一个数据包。"));
        return;
    }
    const std::string folder = package.folder + package.name;
    std::optional<SourceFile> source;
    watchedFromPackage_ = !file_exists(source_file_path(folder));
    if (watchedFromPackage_) {
        // Made before source files: the package's own rows and values (no update then).
        source.emplace();
        const FileRead table = read_regular_file(package.path, kMostTableBytes);
        if (table.ok()) source->entries = entries_from_package(table.bytes);
    } else {
        const FileRead read = read_regular_file(source_file_path(folder), kMostListBytes);
        if (read.ok()) source = read_source_file(read.bytes);
    }
    if (!source || source->entries.empty()) {
        services_.message(this, QStringLiteral("检查货源变化"),
                          QStringLiteral("无法读取这个数据包的宝贝：") +
                              qt_text(watchedFromPackage_ ? package.path : source_file_path(folder)));
        return;
    }
    std::vector<std::string> ids;
    for (const SourceEntry& e : source->entries) ids.push_back(e.offerId);
    const SourceChoice choice = choose_offer_sources(site_settings(), api_token_path(core_.programFolder),
                                                     core_.state.credentials(), ids);
    if (!choice.sources) {
        services_.message(this, QStringLiteral("检查货源变化"), qt_text(choice.refusal));
        return;
    }
    watchedTable_ = package.path;
    watchedFolder_ = folder;
    WatchPorts ports;
    ports.log = &core_.log;
    ports.sources = choice.sources;
    ports.credentials = core_.state.credentials();
    ports.clock = core_.clock;
    watchJob_ = new SupplierWatchJob(source->entries, std::move(ports), this);
    connect(watchJob_, &SupplierWatchJob::progress, this, [this](int done, int total) {
        progress_->setRange(0, std::max(total, 1));
        progress_->setValue(std::clamp(done, 0, total));
        progress_->setFormat(QStringLiteral("已检查 %1/%2").arg(done).arg(total));
    });
    connect(watchJob_, &SupplierWatchJob::finished, this, &RunPanel::end_watch);
    core_.log.append_log(stamp_of(core_) + " 开始检查货源变化："_gbk +
                         package.path + "\r\n");
    progress_->setRange(0, static_cast<int>(source->entries.size()));
    progress_->setValue(0);
    progress_->setFormat(QStringLiteral("已检查 0/%1").arg(source->entries.size()));
    watchJob_->start();
    update_buttons();
}

void RunPanel::end_watch() {
    if (!watchJob_) return;
    watchReport_ = watchJob_->report();
    watchedEntries_ = watchJob_->entries();
    delete watchJob_;  // its thread has ended: finished is its last word
    watchJob_ = nullptr;
    update_buttons();
    const std::string stamp = stamp_of(core_) + " ";
    if (watchReport_.stopped || !watchReport_.refusal.empty()) {
        core_.log.append_log(stamp + (watchReport_.refusal.empty() ? std::string() : watchReport_.refusal + "，"_gbk) +
                             "检查已停止：没有写入变化记录。\r\n"_gbk);
        if (!watchReport_.refusal.empty())
            services_.message(this, QStringLiteral("检查货源变化"), qt_text(watchReport_.refusal));
        return;
    }
    const std::string summary = watch_summary(watchReport_, watchedFromPackage_);
    const std::string changesPath = changes_file_path(watchedFolder_);
    const bool written = write_file_atomic(changesPath, changes_file_bytes(watchReport_.changes));
    core_.log.append_log(stamp + summary + "\r\n");
    core_.log.append_log(stamp + (written ? "变化记录："_gbk : "变化记录无法写入："_gbk) + changesPath + "\r\n");
    bool updatable = false;
    for (const ProductChange& c : watchReport_.changes) updatable = updatable || (c.fresh && !c.failed) || c.gone;
    // Without the source file the rules are not known: the supplier's prices would replace
    // the listing prices.
    updatable = updatable && !watchedFromPackage_;
    if (!changes_) {
        changes_ = new ChangesWindow(this);
        connect(changes_, &ChangesWindow::updateRequested, this, &RunPanel::update_from_watch);
        connect(changes_, &ChangesWindow::exportRequested, this, &RunPanel::export_changes);
    }
    changes_->show_report(watchReport_, qt_text(summary), updatable);
    emit changesShown();
}

void RunPanel::update_from_watch() {
    int updated = 0, gone = 0;
    for (const ProductChange& c : watchReport_.changes) {
        updated += c.fresh && !c.gone && (c.price || c.stock || c.skus);
        gone += c.gone;
    }
    const QString question = QStringLiteral("将 %1 个宝贝的价格、库存和规格写入数据包，%2 个下架的宝贝移出数据包（存入 %3）。是否继续？")
                                 .arg(updated)
                                 .arg(gone)
                                 .arg(qt_text(watchedFolder_ + ".gone.txt"));
    if (!services_.confirm(changes_, QStringLiteral("更新数据包"), question)) return;
    // No run may be writing the package meanwhile.
    FileLock lock = FileLock::try_take(watchedFolder_ + ".lock");
    if (!lock.held()) {
        services_.message(changes_, QStringLiteral("更新数据包"),
                          QStringLiteral("数据包正由另一个任务使用，请等它结束后再更新。"));
        return;
    }
    const PackageUpdate done = update_package(watchedTable_, watchedFolder_, watchedEntries_, watchReport_);
    lock.release();
    if (!done.ok) {
        services_.message(changes_, QStringLiteral("更新数据包"), qt_text(done.message));
        return;
    }
    const PackageCheck check = check_package(watchedTable_, watchedFolder_);
    QString text = QStringLiteral("数据包已更新：%1 个宝贝更新").arg(done.updated);
    if (done.removed > 0)
        text += QStringLiteral("，%1 个下架宝贝移到：%2").arg(done.removed).arg(qt_text(done.goneListPath));
    text += QStringLiteral("\n") + qt_text(check.summary);
    if (!done.warning.empty()) text += QStringLiteral("\n") + qt_text(done.warning);
    core_.log.append_log(stamp_of(core_) + " " + gbk_text(text) + "\r\n");
    changes_->update_button()->setEnabled(false);
    services_.message(changes_, QStringLiteral("更新数据包"), text);
}

void RunPanel::export_changes() {
    const QString chosen = services_.save_file_name(
        changes_, QStringLiteral("制表符分隔文件(*.tsv)|*.tsv"), QStringLiteral("tsv"),
        package_dialog_folder(core_));
    if (chosen.isEmpty()) return;
    if (!write_file_atomic(gbk_text(chosen), changes_file_bytes(watchReport_.changes))) {
        services_.message(changes_, QStringLiteral("导出"), QStringLiteral("文件无法写入：") + chosen);
    }
}

void RunPanel::start_run() {
    // Reports of an earlier run still queued for this panel are taken first, so none of
    // them lands on the progress of the new run.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    if (core_.controller.state() != RunState::Idle) return;
    // Without the rules the user set, the package would carry the wholesale prices.
    if (!core_.rulesError.empty()) {
        services_.message(this, QStringLiteral("提示"),
                          QStringLiteral("价格与标题规则有误，请到“配置”页改正并保存后再生成数据包：\n") +
                              qt_text(core_.rulesError));
        return;
    }
    // The table at the path would be replaced whole: the user says so first.
    if (core_.list.row_count() > 0 && file_exists(core_.outputPath.get()) &&
        !services_.confirm(this, QStringLiteral("提示"), QStringLiteral("数据包已存在，是否覆盖？"))) {
        return;
    }
    start_with({});
}

void RunPanel::start_with(StartOptions options) {
    const int rows = core_.list.row_count();
    if (rows > BatchController::kMostProducts) {
        // One run holds up to 1000 products; a longer list goes in parts into one package.
        const int parts = (rows + BatchController::kMostProducts - 1) / BatchController::kMostProducts;
        const QString question =
            QStringLiteral("宝贝列表有 %1 个宝贝，每次最多下载 %2 个。要分成 %3 批依次下载，"
                           "每批完成后写入同一个数据包吗？")
                .arg(rows)
                .arg(BatchController::kMostProducts)
                .arg(parts);
        if (!services_.confirm(this, QStringLiteral("分批下载"), question)) return;
        options.inParts = true;
    }
    const StartResult result = core_.controller.start_run(options);
    if (result.started) {
        if (completion_) completion_->close();
        show_progress(0, core_.state.productCount(), 0);
    } else if (!result.message.empty()) {
        services_.message(this, QStringLiteral("提示"), qt_text(result.message));
    }
    update_buttons();
}

void RunPanel::retry_failed() {
    const RunTotals& last = lastTotals_;
    if (last.failedListPath.empty() || core_.controller.state() != RunState::Idle) return;
    const std::optional<std::vector<ProductEntry>> rows = read_list_file(last.failedListPath);
    if (!rows || rows->empty()) {
        services_.message(this, QStringLiteral("提示"),
                          QStringLiteral("无法读取失败列表：") + qt_text(last.failedListPath));
        return;
    }
    const QString question =
        (last.stopped
             ? QStringLiteral("当前宝贝列表将被替换为未完成和失败的 %1 个宝贝，下载成功的宝贝将追加到数据包 %2 中。"
                              "要继续吗？")
             : QStringLiteral("当前宝贝列表将被替换为失败的 %1 个宝贝，重试成功的宝贝将追加到数据包 %2 中。"
                              "要继续吗？"))
            .arg(rows->size())
            .arg(qt_text(last.packagePath));
    if (!services_.confirm(this, last.stopped ? QStringLiteral("继续未完成的宝贝") : QStringLiteral("重试失败的宝贝"),
                           question)) {
        return;
    }

    core_.list.replace_all(*rows);
    StartOptions options;
    // A run in which nothing succeeded wrote no package: the retry makes it.
    options.append = last.packageWritten || file_exists(last.packagePath);
    RunSettings target;
    target.outputPath = last.packagePath;
    target.packageFolder = last.packageFolder;
    target.outputFormat = last.outputFormat;
    options.target = target;
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    start_with(options);
}

void RunPanel::toggle_pause() {
    if (watchJob_) {
        watchJob_->set_paused(!watchJob_->paused());
        update_buttons();
        return;
    }
    core_.controller.toggle_pause();
    update_buttons();
}

void RunPanel::stop_run() {
    if (watchJob_) {
        // A stopped watch writes nothing: no question needed.
        watchJob_->stop();
        return;
    }
    if (core_.controller.state() == RunState::Idle) return;
    const BatchState::Counters counters = core_.state.counters();
    const QString question = qt_text(stop_question(
        counters.succeeded, counters.productCount - counters.succeeded - counters.skipped));
    // The run goes on while the user reads; it may end before the answer, and then there is
    // nothing left to stop.
    if (!services_.confirm(this, QStringLiteral("停止"), question)) return;
    core_.controller.stop_run();
    update_buttons();
}

void RunPanel::choose_output_path() {
    // Opens beside the package the box names, where the next one most likely goes.
    const QString chosen = services_.save_file_name(
        this, QStringLiteral("逗号分隔符文件(*.csv)|*.csv"), QStringLiteral("csv"),
        package_dialog_folder(core_));
    if (chosen.isEmpty()) return;
    apply_output_path(chosen);
}

bool RunPanel::apply_output_path(const QString& chosen) {
    const OutputPathChoice choice = derive_output_path(gbk_text(chosen));
    if (!choice.ok) {
        path_->clear();
        path_->setToolTip(QString());
        core_.outputPath.set(std::string());
        services_.message(this, QStringLiteral("提示"), qt_text(choice.message));
        return false;
    }
    const QString shown = qt_text(choice.path);
    path_->setText(shown);
    path_->setCursorPosition(0);
    path_->setToolTip(shown);
    core_.outputPath.set(choice.path);
    core_.state.set_output(choice.folder, choice.name);
    // A run took its path at START and keeps it; say so where the path was changed.
    nextRunNote_->setVisible(core_.controller.state() != RunState::Idle);
    return true;
}

void RunPanel::update_buttons() {
    const RunState state = core_.controller.state();
    const bool watching = watchJob_ != nullptr;
    const bool idle = state == RunState::Idle && !watching;
    start_->setEnabled(idle);
    watch_->setEnabled(idle);
    pause_->setEnabled(!idle);
    stop_->setEnabled(!idle);
    const bool held = watching ? watchJob_->paused() : state == RunState::Held;
    pause_->setText(held ? kContinueCaption : kPauseCaption);
    if (idle) nextRunNote_->hide();
}

void RunPanel::show_progress(int done, int total, int succeeded) {
    progress_->setRange(0, std::max(total, 1));
    progress_->setValue(std::clamp(done, 0, total));
    progress_->setFormat(QStringLiteral("已完成 %1/%2  成功 %3  失败 %4")
                             .arg(done)
                             .arg(total)
                             .arg(succeeded)
                             .arg(done - succeeded));
}

void RunPanel::clear_progress() {
    if (core_.controller.state() != RunState::Idle) return;
    progress_->reset();
    progress_->setFormat(QStringLiteral("%p%"));
}

void RunPanel::move_past_default_path(const RunTotals& totals) {
    // A default name the run just filled moves on, so the next run makes a package of its
    // own instead of replacing this one.
    if (!totals.packageWritten || core_.outputPath.get() != totals.packagePath) return;
    const QString name = QFileInfo(qt_text(totals.packagePath)).fileName();
    static const QRegularExpression kDefault(QStringLiteral("^aliT\\d+(_\\d+)?\\.csv$"));
    if (!kDefault.match(name).hasMatch()) return;
    const std::string fresh =
        default_output_path(core_.programFolder, core_.clock ? *core_.clock : system_clock());
    std::string next = fresh;
    for (int n = 2; file_exists(next) || file_exists(next.substr(0, next.size() - 4)); ++n) {
        next = fresh.substr(0, fresh.size() - 4) + "_" + std::to_string(n) + ".csv";
    }
    apply_output_path(qt_text(next));
}

void RunPanel::show_completion(const RunTotals& totals) {
    show_progress(totals.productCount, totals.productCount, totals.succeeded);
    // A run of no products is complete at once: a full bar, not an empty one.
    progress_->setValue(progress_->maximum());
    lastTotals_ = totals;
    move_past_default_path(totals);
    if (!completion_) {
        completion_ = new CompletionWindow(this);
        connect(completion_, &CompletionWindow::retryRequested, this, &RunPanel::retry_failed);
    }
    completion_->show_totals(totals);
    emit completionShown();
}

}  // namespace vq::gui

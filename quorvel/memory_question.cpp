#include "quorvel/memory_question.h"

#include <QDateTime>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

#include "platform/clock.h"

namespace ui {

MemoryQuestion::MemoryQuestion(QWidget* window, core::Cp290Operations& ops, Runner runOperation)
    : m_window(window), m_ops(ops), m_run(std::move(runOperation))
{
}

MemoryQuestion::~MemoryQuestion()
{
    core::memory::setLostMemoryHandler({});
}

void MemoryQuestion::install()
{
    core::memory::setLostMemoryHandler([this](const core::memory::LostMemory& lost) {
        QTimer::singleShot(0, this, [this, lost] { ask(lost); });
    });
}

void MemoryQuestion::checkAtLaunch()
{
    std::optional<core::memory::LostMemory> lost;
    m_run([&] { lost = m_ops.checkMemory(); });
    if (lost)
        ask(*lost);
}

QString MemoryQuestion::heldText(std::time_t since, std::time_t now)
{
    const QLocale locale;
    const QDateTime at = QDateTime::fromSecsSinceEpoch(since);
    // The locale's short formats, without seconds (some locales show them).
    const auto minutes = [](QString format) { return format.remove(QRegularExpression(QStringLiteral("[:.]ss?"))); };
    if (since <= now && now - since < 6 * 24 * 60 * 60)
        return locale.dayName(at.date().dayOfWeek()) + QLatin1Char(' ') +
               locale.toString(at.time(), minutes(locale.timeFormat(QLocale::ShortFormat)));
    return locale.toString(at, minutes(locale.dateTimeFormat(QLocale::ShortFormat)));
}

void MemoryQuestion::ask(const core::memory::LostMemory& lost)
{
    if (m_box)
        return;  // already asking
    m_box = new QMessageBox(QMessageBox::Warning, tr("CP290 Memory Lost"),
                            tr("The CP290 has lost its memory (a power cut with a flat battery?). "
                               "Put back the %n events it held on %1?",
                               nullptr, lost.events)
                                .arg(heldText(lost.since, platform::now())),
                            QMessageBox::NoButton, m_window);
    m_box->setObjectName(QStringLiteral("memoryQuestion"));
    m_box->setInformativeText(tr("Replace its backup battery, so it keeps its memory through the next power cut."));
    QPushButton* putBack = m_box->addButton(tr("Put Back"), QMessageBox::AcceptRole);
    m_box->addButton(tr("Leave Empty"), QMessageBox::RejectRole);
    m_box->setDefaultButton(putBack);
    m_box->setAttribute(Qt::WA_DeleteOnClose);
    m_box->setWindowModality(Qt::WindowModal);
    connect(m_box, &QMessageBox::buttonClicked, this, [this, putBack](QAbstractButton* clicked) {
        if (clicked == putBack)
            m_run([this] { m_ops.RestoreMemory(); });
        else
            core::memory::noteLeftEmpty(core::memory::Program::Quorvel);
    });
    m_box->open();
}

}  // namespace ui

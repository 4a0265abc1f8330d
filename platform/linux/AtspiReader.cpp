#include "platform/linux/AtspiReader.h"

#include <memory>

namespace {

// The thread's side: a bus and a reader made and used only there.
class Worker final : public QObject {
public:
    AtspiControls& controls() {
        if (!m_controls) {
            m_bus = std::make_unique<AtspiBus>();
            m_controls = std::make_unique<AtspiControls>(*m_bus);
        }
        return *m_controls;
    }

private:
    std::unique_ptr<AtspiBus> m_bus;
    std::unique_ptr<AtspiControls> m_controls;
};

} // namespace

AtspiReader::AtspiReader() {
    auto* worker = new Worker;
    worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, worker, &QObject::deleteLater);
    m_worker = worker;
    m_thread.setObjectName(QStringLiteral("tessarine-atspi"));
    m_thread.start();
}

AtspiReader::~AtspiReader() {
    m_thread.quit();
    m_thread.wait();
}

void AtspiReader::read(qint64 pid, std::function<void(const AtspiControls::Reading&)> deliver) {
    auto* worker = static_cast<Worker*>(m_worker);
    QMetaObject::invokeMethod(
        worker,
        [worker, pid, receiver = QPointer<AtspiReader>(this), deliver = std::move(deliver)] {
            const AtspiControls::Reading reading = worker->controls().read(pid);
            if (receiver)
                QMetaObject::invokeMethod(
                    receiver.data(), [deliver, reading] { deliver(reading); },
                    Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

#include "app/desktop_secret_store.h"

#include <QThread>
#include <future>
#include <qt6keychain/keychain.h>

namespace app {
namespace {

constexpr const char* kService = "Larkview";

enum class Kind { kRead, kWrite, kRemove };

struct Answer {
    core::SecretStore::Result result = core::SecretStore::Result::kUnavailable;
    std::string password;
};

core::SecretStore::Result ResultOf(QKeychain::Error error) {
    switch (error) {
        case QKeychain::NoError: return core::SecretStore::Result::kDone;
        case QKeychain::EntryNotFound: return core::SecretStore::Result::kNotFound;
        default: return core::SecretStore::Result::kUnavailable;
    }
}

}  // namespace

struct DesktopSecretStore::Worker {
    QThread thread;
    QObject context;  // lives on `thread`: the jobs are made and answered there

    Worker() {
        thread.setObjectName("secret store");
        context.moveToThread(&thread);
        thread.start();
    }
    ~Worker() {
        thread.quit();
        thread.wait();
    }

    // Starts one job on the store's thread; the future is answered when it finishes.
    std::future<Answer> Start(Kind kind, const std::string& account, const std::string& password) {
        auto promise = std::make_shared<std::promise<Answer>>();
        std::future<Answer> answer = promise->get_future();
        QMetaObject::invokeMethod(&context, [this, kind, account, password, promise] {
            QKeychain::Job* job = nullptr;
            const QString key = QString::fromStdString(account);
            if (kind == Kind::kRead) {
                job = new QKeychain::ReadPasswordJob(kService, &context);
            } else if (kind == Kind::kWrite) {
                auto* write = new QKeychain::WritePasswordJob(kService, &context);
                write->setTextData(QString::fromStdString(password));
                job = write;
            } else {
                job = new QKeychain::DeletePasswordJob(kService, &context);
            }
            job->setAutoDelete(true);
            job->setInsecureFallback(false);  // the plain fallback is ours, and logged
            job->setKey(key);
            QObject::connect(job, &QKeychain::Job::finished, &context, [promise](QKeychain::Job* done) {
                Answer reply;
                reply.result = ResultOf(done->error());
                if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(done); read && !done->error())
                    reply.password = read->textData().toStdString();
                promise->set_value(std::move(reply));
            });
            job->start();
        });
        return answer;
    }
};

DesktopSecretStore::DesktopSecretStore(Timing timing) : worker_(std::make_unique<Worker>()), timing_(timing) {}

DesktopSecretStore::~DesktopSecretStore() = default;

namespace {

// An answer that does not come in time counts as no store; the job finishes on its own.
Answer Await(std::future<Answer> answer, std::chrono::milliseconds timeout) {
    if (answer.wait_for(timeout) != std::future_status::ready) return {};
    return answer.get();
}

}  // namespace

core::SecretStore::Result DesktopSecretStore::Read(const std::string& account, std::string& password) {
    Answer answer = Await(worker_->Start(Kind::kRead, account, {}), timing_.read);
    if (answer.result == Result::kDone) password = std::move(answer.password);
    return answer.result;
}

core::SecretStore::Result DesktopSecretStore::Write(const std::string& account, const std::string& password) {
    return Await(worker_->Start(Kind::kWrite, account, password), timing_.write).result;
}

core::SecretStore::Result DesktopSecretStore::Remove(const std::string& account) {
    return Await(worker_->Start(Kind::kRemove, account, {}), timing_.write).result;
}

}  // namespace app

#include "modeler/page/form_bridge.h"

namespace modeler {

FormBridge::~FormBridge() {
    {
        std::lock_guard lock(mutex_);
        if (!answer_) answer_.emplace(std::nullopt);
    }
    changed_.notify_all();
    if (worker_.joinable()) worker_.join();
}

void FormBridge::start(std::function<void(const FormAnswerer &)> work) {
    finish();
    {
        std::lock_guard lock(mutex_);
        stage_ = Stage::Running;
        question_.reset();
        answer_.reset();
    }
    worker_ = std::thread([this, work = std::move(work)] {
        work([this](const PostedForm &form) { return ask(form); });
        {
            std::lock_guard lock(mutex_);
            stage_ = Stage::Finished;
        }
        changed_.notify_all();
    });
}

std::optional<std::string> FormBridge::ask(const PostedForm &form) {
    std::unique_lock lock(mutex_);
    if (answer_) return *answer_;
    question_ = form;
    stage_ = Stage::Asking;
    changed_.notify_all();
    changed_.wait(lock, [this] { return answer_.has_value(); });
    stage_ = Stage::Running;
    question_.reset();
    return *answer_;
}

FormBridge::Stage FormBridge::waitForQuestion() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return stage_ != Stage::Running; });
    return stage_;
}

std::optional<PostedForm> FormBridge::question() {
    std::lock_guard lock(mutex_);
    return question_;
}

bool FormBridge::answer(std::optional<std::string> text) {
    {
        std::lock_guard lock(mutex_);
        if (stage_ != Stage::Asking) return false;
        answer_.emplace(std::move(text));
    }
    changed_.notify_all();
    finish();
    return true;
}

void FormBridge::finish() {
    if (worker_.joinable()) worker_.join();
    std::lock_guard lock(mutex_);
    stage_ = Stage::Idle;
}

FormBridge::Stage FormBridge::stage() {
    std::lock_guard lock(mutex_);
    return stage_;
}

}  // namespace modeler

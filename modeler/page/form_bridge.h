// Leaving the tool from a page: the tool posts its form on a thread of its
// own and waits there, while the page shows the form and sends the answer
// in a later request.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "modeler/services/xpanel_service.h"

namespace modeler {

class FormBridge {
  public:
    enum class Stage { Idle, Running, Asking, Finished };

    FormBridge() = default;
    // Cancels a form still asked and waits for the work to end.
    ~FormBridge();
    FormBridge(const FormBridge &) = delete;
    FormBridge &operator=(const FormBridge &) = delete;

    // Runs work on its own thread; work may call answer() below to ask.
    void start(std::function<void(const FormAnswerer &)> work);
    // Waits until the work asks or ends; the stage then.
    Stage waitForQuestion();
    // The form being asked, while Asking.
    std::optional<PostedForm> question();
    // Answers the form being asked and waits for the work to end. False
    // when no form is asked.
    bool answer(std::optional<std::string> text);
    // Waits for the work to end and makes the bridge idle again.
    void finish();
    Stage stage();

  private:
    std::optional<std::string> ask(const PostedForm &form);

    std::mutex mutex_;
    std::condition_variable changed_;
    Stage stage_ = Stage::Idle;
    std::optional<PostedForm> question_;
    // The first answer serves every later form of the same work, as a
    // session's one "done" line answers them all.
    std::optional<std::optional<std::string>> answer_;
    std::thread worker_;
};

}  // namespace modeler

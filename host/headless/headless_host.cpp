#include "headless/headless_host.h"

#include "state/shared_state.h"

namespace selvane::headless {

HeadlessHost::HeadlessHost(std::shared_ptr<platform::IObject> document,
                           console::ConsoleRuntime::MessageSink messages, console::ScreenSettings screen)
    : m_application(std::make_shared<gis::Application>(std::move(document))),
      m_runtime(std::make_shared<console::ConsoleRuntime>(std::move(messages), screen)) {
    // A host is a fresh load of the server: nothing of an earlier host carries over.
    state::ResetSharedState();
    platform::InstallRuntime(m_runtime);
    platform::InstallObjectFactory(std::make_shared<gis::ObjectFactory>(m_application));
}

HeadlessHost::~HeadlessHost() {
    m_application->CloseAllWindows();
    state::ResetSharedState();
}

std::shared_ptr<command::Selvane> HeadlessHost::CreateCommand() {
    m_command = std::make_shared<command::Selvane>();
    m_command->OnCreate(m_application);
    return m_command;
}

void HeadlessHost::Press() {
    if (!m_command) CreateCommand();
    m_command->OnClick();
}

std::shared_ptr<dialogs::frmIndex> HeadlessHost::Dialog() const {
    return std::static_pointer_cast<dialogs::frmIndex>(state::MainDialog);
}

std::shared_ptr<gis::MxDocument> HeadlessHost::Document() const {
    return std::dynamic_pointer_cast<gis::MxDocument>(m_application->Document());
}

}  // namespace selvane::headless

#include "headless/headless_host.h"

#include "command/shared_state.h"

namespace selvane::apps {

HeadlessHost::HeadlessHost(std::shared_ptr<platform::IObject> document,
                           console::ConsoleRuntime::MessageSink messages, console::ScreenSettings screen)
    : m_application(std::make_shared<gis::Application>(std::move(document))),
      m_runtime(std::make_shared<console::ConsoleRuntime>(std::move(messages), screen)) {
    // A host is a fresh load of the server: nothing of an earlier host carries over.
    command::ResetSharedState();
    platform::InstallRuntime(m_runtime);
    platform::InstallObjectFactory(std::make_shared<gis::ObjectFactory>(m_application));
}

HeadlessHost::~HeadlessHost() {
    m_application->CloseAllWindows();
    command::ResetSharedState();
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

std::shared_ptr<dialogs::frmIndex> HeadlessHost::Dialog() const { return command::MainDialog; }

std::shared_ptr<gis::MxDocument> HeadlessHost::Document() const {
    return std::dynamic_pointer_cast<gis::MxDocument>(m_application->Document());
}

}  // namespace selvane::apps

#pragma once

// The command the map application creates, shows as a button and calls when pressed.

#include <memory>

#include "platform/arcobjects.h"

namespace selvane::command {

class Selvane : public platform::ICommand {
public:
    bool Enabled() override;
    bool Checked() override;
    std::string Name() override;
    std::string Caption() override;
    std::string Tooltip() override;
    std::string Message() override;
    std::string HelpFile() override;
    std::int32_t HelpContextID() override;
    std::int32_t Bitmap() override;
    std::string Category() override;
    void OnCreate(std::shared_ptr<platform::IObject> hook) override;
    void OnClick() override;

private:
    std::shared_ptr<platform::IApplication> m_application;
};

}  // namespace selvane::command

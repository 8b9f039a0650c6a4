#include "frame_adapters.h"

#include "host_call.h"
#include "win32/win32_form.h"

namespace selvane::com {
namespace {

class ModelessFrame : public platform::IModelessFrame {
public:
    explicit ModelessFrame(ComRef<::IModelessFrame> frame) : m_frame(std::move(frame)) {}
    void Create(std::shared_ptr<platform::IHostedForm> dialog) override {
        if (!dialog) throw platform::Error(platform::kPointer, "No dialog to host");
        *m_dialog = dialog;
        const auto form = dialog->Form();
        const auto window = form->hWnd();
        Check(m_frame->Create(static_cast<OLE_HANDLE>(window)), "IModelessFrame.Create");
        // Once the host destroys the window, the dialog goes (and this port with it).
        if (auto* win32_form = dynamic_cast<win32::Win32Form*>(form.get())) {
            win32_form->SetWindowGone([held = std::weak_ptr(m_dialog)] {
                if (const auto slot = held.lock()) {
                    const auto let_go = std::move(*slot);
                }
            });
        }
    }
    std::string Caption() override {
        return ReadText([this](BSTR* text) { return m_frame->get_Caption(text); }, "IModelessFrame.Caption");
    }
    void SetCaption(const std::string& caption) override {
        Check(m_frame->put_Caption(UniqueBstr(caption).Get()), "IModelessFrame.Caption");
    }
    bool Visible() override {
        const auto visible = ReadValue<VARIANT_BOOL>([this](VARIANT_BOOL* value) {
                                                         return m_frame->get_Visible(value);
                                                     },
                                                     "IModelessFrame.Visible");
        return visible != VARIANT_FALSE;
    }
    void SetVisible(bool visible) override {
        Check(m_frame->put_Visible(visible ? VARIANT_TRUE : VARIANT_FALSE), "IModelessFrame.Visible");
    }

protected:
    ComRef<::IModelessFrame> m_frame;
    // The host holds only the dialog's window; the port keeps the dialog alive with it,
    // until the window is destroyed.
    std::shared_ptr<std::shared_ptr<platform::IHostedForm>> m_dialog =
        std::make_shared<std::shared_ptr<platform::IHostedForm>>();
};

class PositionedModelessFrame final : public ModelessFrame, public platform::IWindowPosition {
public:
    PositionedModelessFrame(ComRef<::IModelessFrame> frame, ComRef<::IWindowPosition> position)
        : ModelessFrame(std::move(frame)), m_position(std::move(position)) {}
    void Move(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) override {
        Check(m_position->Move(left, top, width, height), "IWindowPosition.Move");
    }

private:
    ComRef<::IWindowPosition> m_position;
};

}  // namespace

std::shared_ptr<platform::IModelessFrame> AdaptModelessFrame(ComRef<::IModelessFrame> frame) {
    if (!frame) return nullptr;
    if (auto position = frame.As<::IWindowPosition>(IID_IWindowPosition)) {
        return std::make_shared<PositionedModelessFrame>(std::move(frame), std::move(position));
    }
    return std::make_shared<ModelessFrame>(std::move(frame));
}

}  // namespace selvane::com

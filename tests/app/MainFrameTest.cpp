#include "app/HostJoinSelectPanel.h"
#include "app/Identifiers.h"
#include "app/MainFrame.h"
#include "tests/app/WindowTesting.h"

#include <gtest/gtest.h>

#include <wx/button.h>
#include <wx/display.h>
#include <wx/image.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include <string>

namespace {

MainFrame* mainFrame() {
    auto* frame = dynamic_cast<MainFrame*>(wxTheApp->GetTopWindow());
    EXPECT_NE(frame, nullptr) << "App::OnInit showed no MainFrame";
    return frame;
}

wxImage assetScaledTo64(const std::string& name) {
    wxImage image(std::string(ASSETS_DIR) + "/" + name, wxBITMAP_TYPE_PNG);
    return image.Scale(64, 64, wxIMAGE_QUALITY_NORMAL);
}

bool samePixels(const wxImage& a, const wxImage& b) {
    if (a.GetSize() != b.GetSize())
        return false;
    for (int y = 0; y < a.GetHeight(); ++y)
        for (int x = 0; x < a.GetWidth(); ++x)
            if (a.GetRed(x, y) != b.GetRed(x, y) || a.GetGreen(x, y) != b.GetGreen(x, y) ||
                a.GetBlue(x, y) != b.GetBlue(x, y) ||
                (a.HasAlpha() && b.HasAlpha() && a.GetAlpha(x, y) != b.GetAlpha(x, y)))
                return false;
    return true;
}

// Mean brightness of the visible pixels, as they would show on the panel.
double meanBrightness(const wxImage& image) {
    double sum = 0, weight = 0;
    for (int y = 0; y < image.GetHeight(); ++y)
        for (int x = 0; x < image.GetWidth(); ++x) {
            const double alpha = image.HasAlpha() ? image.GetAlpha(x, y) / 255.0 : 1.0;
            sum += alpha * (image.GetRed(x, y) + image.GetGreen(x, y) + image.GetBlue(x, y)) / 3;
            weight += alpha;
        }
    return weight > 0 ? sum / weight : 0;
}

template <typename Control> Control* child(int id) {
    auto* control = dynamic_cast<Control*>(mainFrame()->FindWindow(id));
    EXPECT_NE(control, nullptr) << "no control with id " << id;
    return control;
}

wxStaticText* hostAddressLabel(const HostJoinSelectPanel* panel) {
    for (wxWindow* window : panel->GetChildren())
        if (auto* label = dynamic_cast<wxStaticText*>(window))
            return label;
    return nullptr;
}

// The tests run in this order on the one frame: the compact panel first.
TEST(MainFrame, StartsCentredWithTitleSizeAndIcon) {
    MainFrame* frame = mainFrame();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->GetTitle(), "Vaskor VPN");
    EXPECT_EQ(frame->GetClientSize(), wxSize(240, 140));
    EXPECT_TRUE(frame->IsShown());

    const wxRect screen = wxDisplay(0u).GetGeometry();
    const wxRect window = frame->GetScreenRect();
    EXPECT_NEAR(window.x + window.width / 2, screen.width / 2, 1);
    EXPECT_NEAR(window.y + window.height / 2, screen.height / 2, 1);

    ASSERT_EQ(frame->GetIcons().GetIconCount(), 1u);
    const wxIcon icon = frame->GetIcons().GetIconByIndex(0);
    ASSERT_TRUE(icon.IsOk());
    EXPECT_EQ(icon.GetWidth(), 64);
    EXPECT_EQ(icon.GetHeight(), 64);
    wxBitmap iconBitmap;
    iconBitmap.CopyFromIcon(icon);
    EXPECT_TRUE(samePixels(iconBitmap.ConvertToImage(), assetScaledTo64("icon.png")));
}

TEST(HostJoinSelectPanel, ImageButtonsCarryTheirLabelsIdsAndImages) {
    struct Case {
        int id;
        const char* label;
        wxPoint position;
        const char* normal;
        const char* hover;
    } cases[] = {
        {ID_HOST, "Host VPN", {20, 30}, "btn-host-default.png", "btn-host-hover.png"},
        {ID_JOIN, "Join VPN", {140, 30}, "btn-join-default.png", "btn-join-hover.png"},
    };
    for (const Case& c : cases) {
        auto* button = child<wxButton>(c.id);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->GetParent(), mainFrame()->hostJoinPanel);
        EXPECT_EQ(button->GetLabel(), c.label);
        EXPECT_EQ(button->GetPosition(), c.position) << c.label;
        EXPECT_EQ(button->GetSize(), wxSize(80, 80)) << c.label;
        EXPECT_EQ(button->GetBackgroundColour(), wxColour(68, 68, 68));

        const wxImage normal = button->GetBitmap().ConvertToImage();
        const wxImage hover = button->GetBitmapCurrent().ConvertToImage();
        EXPECT_EQ(normal.GetSize(), wxSize(64, 64));
        EXPECT_TRUE(samePixels(normal, assetScaledTo64(c.normal))) << c.label;
        EXPECT_TRUE(samePixels(hover, assetScaledTo64(c.hover))) << c.label;
        EXPECT_GT(meanBrightness(hover), meanBrightness(normal) + 20)
            << c.label << ": the hover image should be visibly brighter";
    }
}

TEST(HostJoinSelectPanel, CompactLayoutHidesTheAddressBelowTheStrip) {
    HostJoinSelectPanel* panel = mainFrame()->hostJoinPanel;
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->GetPosition(), wxPoint(0, 0));
    EXPECT_EQ(panel->GetBackgroundColour(), wxColour(68, 68, 68));

    auto* strip = child<wxButton>(ID_SHOW_ADVANCED);
    ASSERT_NE(strip, nullptr);
    EXPECT_EQ(strip, panel->advancedButton);
    EXPECT_EQ(strip->GetLabel(), "Show Advanced Settings");
    EXPECT_EQ(strip->GetForegroundColour(), wxColour(170, 170, 170));
    EXPECT_EQ(strip->GetPosition().x, 0);
    EXPECT_EQ(strip->GetSize().GetWidth(), 240);
    EXPECT_EQ(strip->GetPosition().y + strip->GetSize().GetHeight(), 136);

    wxStaticText* label = hostAddressLabel(panel);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->GetLabel(), "Host IP CIDR");
    EXPECT_EQ(label->GetPosition(), wxPoint(8, 148));
    EXPECT_EQ(label->GetSize().GetWidth(), 224);

    wxTextCtrl* field = panel->addressField;
    EXPECT_EQ(field->GetValue(), "192.168.42.1/24");
    EXPECT_EQ(field->GetPosition(),
              wxPoint(8, label->GetPosition().y + label->GetSize().GetHeight() + 8));
    EXPECT_EQ(field->GetSize().GetWidth(), 224);
    EXPECT_EQ(panel->expandedHeight, field->GetPosition().y + field->GetSize().GetHeight() + 8);

    // Both exist from the start, but below what the window shows.
    EXPECT_GE(label->GetPosition().y, mainFrame()->GetClientSize().GetHeight());
    std::printf("heights: strip %d, label %d, field %d, expanded panel %d\n",
                strip->GetSize().GetHeight(), label->GetSize().GetHeight(),
                field->GetSize().GetHeight(), panel->expandedHeight);
}

TEST(HostJoinSelectPanel, ClickingShowAdvancedSettingsRevealsTheAddress) {
    MainFrame* frame = mainFrame();
    HostJoinSelectPanel* panel = frame->hostJoinPanel;
    wxButton* strip = panel->advancedButton;
    ASSERT_NE(strip, nullptr);
    const int expanded = panel->expandedHeight;

    // A real pointer click, which must travel from the panel's button to the frame.
    wxUIActionSimulator pointer;
    pointer.MouseMove(strip->GetScreenRect().GetPosition() + wxPoint(120, 5));
    pointer.MouseClick();
    ASSERT_TRUE(processEventsUntil([&] { return frame->FindWindow(ID_SHOW_ADVANCED) == nullptr; }))
        << "the click did not reach MainFrame::onShowAdvanced";

    EXPECT_EQ(panel->advancedButton, nullptr);
    EXPECT_EQ(frame->GetClientSize(), wxSize(240, expanded));
    EXPECT_EQ(panel->GetSize(), wxSize(240, expanded));
    wxTextCtrl* field = panel->addressField;
    EXPECT_LE(field->GetPosition().y + field->GetSize().GetHeight(), expanded);
}

} // namespace

#include "app/MainFrame.h"
#include "app/EmbeddedImage.h"
#include "app/HostJoinSelectPanel.h"
#include "app/Identifiers.h"
#include "tests/app/WindowTesting.h"

#include <gtest/gtest.h>

#include <wx/button.h>
#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/display.h>
#include <wx/image.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

MainFrame* mainFrame() {
    auto* frame = dynamic_cast<MainFrame*>(wxTheApp->GetTopWindow());
    EXPECT_NE(frame, nullptr) << "App::OnInit showed no MainFrame";
    return frame;
}

std::string assetPath(const std::string& name) {
    std::string path = ASSETS_DIR "/";
    path += name;
    return path;
}

wxImage assetScaledTo64(const std::string& name) {
    wxImage image(assetPath(name), wxBITMAP_TYPE_PNG);
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

// What the screen shows of a window, as a person sees it.
wxImage screenOf(const wxWindow* window) {
    const wxRect area = window->GetScreenRect();
    wxBitmap shot(area.width, area.height, 24);
    wxMemoryDC memory(shot);
    wxScreenDC screen;
    memory.Blit(0, 0, area.width, area.height, &screen, area.x, area.y);
    memory.SelectObject(wxNullBitmap);
    return shot.ConvertToImage();
}

// The image as drawn over the background colour; its alpha stays, to tell
// the opaque pixels from the blended edges.
wxImage drawnOver(const wxImage& image, const wxColour& background) {
    wxImage drawn(image.GetWidth(), image.GetHeight());
    drawn.InitAlpha();
    for (int y = 0; y < image.GetHeight(); ++y)
        for (int x = 0; x < image.GetWidth(); ++x) {
            const double alpha = image.HasAlpha() ? image.GetAlpha(x, y) / 255.0 : 1.0;
            const auto mix = [&](unsigned char over, unsigned char under) {
                return static_cast<unsigned char>(over * alpha + under * (1 - alpha) + 0.5);
            };
            drawn.SetRGB(x, y, mix(image.GetRed(x, y), background.Red()),
                         mix(image.GetGreen(x, y), background.Green()),
                         mix(image.GetBlue(x, y), background.Blue()));
            drawn.SetAlpha(x, y, image.HasAlpha() ? image.GetAlpha(x, y) : 255);
        }
    return drawn;
}

bool nearColour(const wxImage& image, int x, int y, unsigned char red, unsigned char green,
                unsigned char blue) {
    constexpr int tolerance = 8;
    return std::abs(image.GetRed(x, y) - red) <= tolerance &&
           std::abs(image.GetGreen(x, y) - green) <= tolerance &&
           std::abs(image.GetBlue(x, y) - blue) <= tolerance;
}

// Where the picture shows inside the shot, if it shows at all: its opaque
// pixels compared (the toolkit blends the edges in its own way).
std::optional<wxPoint> placeOf(const wxImage& picture, const wxImage& shot) {
    for (int top = 0; top + picture.GetHeight() <= shot.GetHeight(); ++top)
        for (int left = 0; left + picture.GetWidth() <= shot.GetWidth(); ++left) {
            bool same = true;
            for (int y = 0; same && y < picture.GetHeight(); ++y)
                for (int x = 0; same && x < picture.GetWidth(); ++x)
                    same = picture.GetAlpha(x, y) < 255 ||
                           nearColour(shot, left + x, top + y, picture.GetRed(x, y),
                                      picture.GetGreen(x, y), picture.GetBlue(x, y));
            if (same)
                return wxPoint(left, top);
        }
    return std::nullopt;
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

// Displays at 150% and 200% show the buttons' images from their own sizes,
// not the 64-pixel one stretched.
TEST(HostJoinSelectPanel, ButtonImagesComeAtEachDisplayScale) {
    for (const char* name : {"btn-host-default.png", "btn-host-hover.png", "btn-join-default.png",
                             "btn-join-hover.png"}) {
        const wxBitmapBundle bundle = loadEmbeddedImageBundle(name);
        EXPECT_EQ(bundle.GetDefaultSize(), wxSize(64, 64)) << name;
        const wxImage source(assetPath(name), wxBITMAP_TYPE_PNG);
        for (const int side : {64, 96, 128}) {
            const wxImage shown = bundle.GetBitmap(wxSize(side, side)).ConvertToImage();
            EXPECT_EQ(shown.GetSize(), wxSize(side, side)) << name;
            EXPECT_TRUE(samePixels(shown, source.Scale(side, side, wxIMAGE_QUALITY_NORMAL)))
                << name << " at " << side << " pixels";
        }
    }
}

// A move to a display of another scale lays the panel out again and fits the
// window to it (at 96 DPI: the same layout, whatever was moved meanwhile).
TEST(HostJoinSelectPanel, ADpiChangeLaysThePanelOutAgain) {
    MainFrame* frame = mainFrame();
    ASSERT_NE(frame, nullptr);
    HostJoinSelectPanel* panel = frame->hostJoinPanel;
    auto* host = child<wxButton>(ID_HOST);
    ASSERT_NE(host, nullptr);
    const wxRect strip = panel->advancedButton->GetRect();
    host->Move(0, 0);
    panel->advancedButton->Move(0, 0);
    frame->SetClientSize(300, 300);

    wxDPIChangedEvent changed(wxSize(96, 96), wxSize(96, 96));
    changed.SetEventObject(frame);
    frame->ProcessWindowEvent(changed);

    EXPECT_EQ(host->GetPosition(), wxPoint(20, 30));
    EXPECT_EQ(panel->advancedButton->GetRect(), strip);
    EXPECT_TRUE(processEventsUntil([&] { return frame->GetClientSize() == wxSize(240, 140); }))
        << "client area " << frame->GetClientSize().x << "x" << frame->GetClientSize().y;
    EXPECT_EQ(panel->GetSize(), wxSize(240, 140));
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

// The toolkit drew light dashes of a hover frame at the host button's top
// corners; on screen, only the image and the label may show.
TEST(HostJoinSelectPanel, TheHoveredHostButtonDrawsNoFrameAroundItsImage) {
    const wxColour panelGrey(68, 68, 68);
    auto* button = child<wxButton>(ID_HOST);
    ASSERT_NE(button, nullptr);
    const wxImage hover = drawnOver(button->GetBitmapCurrent().ConvertToImage(), panelGrey);

    // The pointer moves over the button as a hand does, one step at a
    // time, until the toolkit shows the hover image.
    wxUIActionSimulator pointer;
    const wxPoint over = button->GetScreenRect().GetPosition() + wxPoint(40, 30);
    int step = 0;
    wxImage shot;
    std::optional<wxPoint> image;
    ASSERT_TRUE(processEventsUntil([&] {
        pointer.MouseMove(over + wxPoint(step++ % 2, 0));
        shot = screenOf(button);
        return (image = placeOf(hover, shot)).has_value();
    })) << button->GetLabel()
        << ": the hover image never showed under the pointer";

    // Outside the image only the label may differ from the panel, in the
    // rows below the image and no wider than its text.
    const wxRect picture(*image, hover.GetSize());
    const int labelHalfWidth = button->GetTextExtent(button->GetLabel()).GetWidth() / 2 + 2;
    int framed = 0;
    std::string first;
    for (int y = 0; y < shot.GetHeight(); ++y)
        for (int x = 0; x < shot.GetWidth(); ++x) {
            const bool label =
                y >= picture.GetBottom() && std::abs(x - shot.GetWidth() / 2) <= labelHalfWidth;
            if (picture.Contains(x, y) || label ||
                nearColour(shot, x, y, panelGrey.Red(), panelGrey.Green(), panelGrey.Blue()))
                continue;
            if (framed++ == 0)
                first = std::to_string(x) + "," + std::to_string(y);
        }
    EXPECT_EQ(framed, 0) << button->GetLabel() << ": " << framed
                         << " pixels around the hovered image are not the panel's colour, "
                            "the first at "
                         << first << " (image at " << image->x << "," << image->y << ")";
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

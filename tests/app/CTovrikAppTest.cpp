// Start-up: the socket layer's failure box, the endpoint opened before the
// window runs, and the window run modally until closed.
#include <gtest/gtest.h>

#include <cstdlib>

#include "SettingsHome.h"
#include "TempDir.h"
#include "app/CTovrikApp.h"
#include "framework/fake/CFakeDialogWindow.h"
#include "framework/fake/CFakeFrameworkServices.h"
#include "net/CUDPSocket.h"
#include "text/TovrikTexts.h"

// The process's one endpoint, as the program's main.cpp defines it.
CUDPSocket theUDPSocket;

namespace {

class CTovrikAppTest : public testing::Test {
protected:

    TempDir m_config;
    const SettingsHome m_settingsHome{m_config.Path()};
};

TEST_F(CTovrikAppTest, SocketLayerFailure)
{
    CFakeFrameworkServices services;
    services.m_bSocketInit = false;
    CTovrikApp app;
    EXPECT_FALSE(app.InitInstance(services));
    EXPECT_FALSE(app.WindowRan());
    ASSERT_EQ(services.m_boxes.size(), 1u);
    EXPECT_EQ(services.m_boxes[0].strText, TovrikTexts::kSocketInitFailed);
    EXPECT_EQ(services.m_boxes[0].strCaption, services.AppName());
    EXPECT_TRUE(services.m_boxes[0].bApplication);
    EXPECT_TRUE(services.m_modals.empty());
    EXPECT_EQ(theUDPSocket.Handle(), -1);
    EXPECT_TRUE(theUDPSocket.Handler() == nullptr);
}

TEST_F(CTovrikAppTest, RunsTheWindowOnAnOpenEndpoint)
{
    CFakeFrameworkServices services;
    CTovrikApp app;
    uint16_t nLocalPort = 0;
    bool bHandler = false;
    services.m_onModal = [&](CFakeDialogWindow& window) {
        nLocalPort = theUDPSocket.LocalPort();
        bHandler = theUDPSocket.Handler() != nullptr;
        EXPECT_TRUE(window.Close());
    };
    EXPECT_FALSE(app.InitInstance(services));
    EXPECT_TRUE(app.WindowRan());
    ASSERT_EQ(services.m_modals.size(), 1u);
    EXPECT_EQ(services.m_modals[0].strCaption, "Velmar模拟定时发送工具");
    EXPECT_NE(nLocalPort, 0);
    EXPECT_TRUE(bHandler);
    EXPECT_TRUE(services.m_boxes.empty());
    theUDPSocket.Close();
    theUDPSocket.SetHandler(nullptr);
}

}  // namespace

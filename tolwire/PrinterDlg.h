// tolwire's main dialog: the printer's access point and the Wi-Fi network it joins, with a
// step-by-step instruction panel and a red tip.
#pragma once

#include <string>

#include "WifiDialog.h"

class CprinterDlg : public CWifiDialog {
  public:
    explicit CprinterDlg(CDialog* parent = nullptr);
    ~CprinterDlg() override;

    // The port choice and the Wi-Fi members come from the shared bases.

  protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

    /// Also refreshes the instruction panel on every tick.
    LRESULT OnTimer(WPARAM wParam, LPARAM lParam) override;
    /// Draws the tip label in red with its own font.
    LRESULT OnCtlColor(WPARAM wParam, LPARAM lParam);

  private:
    HFONT m_hTipFont = nullptr;  // created once, with the dialog; deleted with it
};

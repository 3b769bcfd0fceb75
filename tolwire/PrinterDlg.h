// tolwire's main dialog: the printer's access point and the Wi-Fi network it joins, with a
// step-by-step instruction panel and a red tip.
#pragma once

#include "dialog/WifiDialog.h"

class CprinterDlg : public CWifiDialog {
  public:
    explicit CprinterDlg(CDialog* parent = nullptr);
    ~CprinterDlg() override;

    // The port choice, the Wi-Fi members, their exchange with the controls, their start values
    // and the four buttons all come from the shared bases.

  protected:
    /// The tip label's colour; the rest comes from the bases.
    const MessageMap* GetMessageMap() const override;

    /// Also refreshes the instruction panel on every tick.
    LRESULT OnTimer(WPARAM wParam, LPARAM lParam) override;
    /// Draws the tip label in red with its own font.
    LRESULT OnCtlColor(WPARAM wParam, LPARAM lParam);

  private:
    HFONT m_hTipFont = nullptr;  // created once, with the dialog; deleted with it
};

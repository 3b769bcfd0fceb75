// tolwire's main dialog: the printer's access point and the Wi-Fi network it joins, with a
// step-by-step instruction panel and a red tip.
#pragma once

#include <string>

#include "PrinterDialog.h"

class CprinterDlg : public CPrinterDialog {
  public:
    explicit CprinterDlg(CDialog* parent = nullptr);
    ~CprinterDlg() override;

    DWORD m_dwStaIp = 0;
    DWORD m_dwStaMask = 0;
    DWORD m_dwStaGateway = 0;
    std::wstring m_strApName;
    std::wstring m_strWifiName;
    int m_nWifiMode = 0;
    int m_nAuthMode = 0;
    int m_nEncryption = 0;
    std::wstring m_strWifiPassword;

    /// The seven steps shown in the instruction panel, one per line.
    static const wchar_t* InstructionText();

  protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

    /// Also refreshes the instruction panel on every tick.
    LRESULT OnTimer(WPARAM wParam, LPARAM lParam) override;
    /// Draws the tip label in red with its own font.
    LRESULT OnCtlColor(WPARAM wParam, LPARAM lParam);

    void OnPortTest();
    void OnSaveApNameAndMode();
    void OnSaveParameter();
    void OnFactoryMode();

  private:
    HFONT m_hTipFont = nullptr;  // created once, with the dialog; deleted with it
};

# Windows transport tests (under Wine).

"""The pytest plugin `quorvane`: the `assert_screenshot` fixture compares a
screenshot (PNG bytes, a PNG file, or a Playwright or Selenium target it
captures) with a baseline kept beside the tests, judged by the `quorvane`
command's analysis, and writes the report page over the failures.

Registered through the `pytest11` entry point; importing this package needs
neither Playwright nor Selenium."""

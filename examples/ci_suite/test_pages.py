import pytest

PAGES = {
    "home": "<h1>Welcome</h1><p>Three shops, one basket.</p>",
    "basket": "<h1>Basket</h1><table><tr><td>Tea</td><td>4.50</td></tr><tr><td>Cups</td><td>12.00</td></tr></table>",
    "checkout": "<h1>Checkout</h1><form><label>Name <input value='A. Reader'></label><button>Pay</button></form>",
    "help": "<h1>Help</h1><ul><li>Delivery</li><li>Returns</li></ul>",
}


@pytest.mark.parametrize("name", PAGES)
def test_page_looks_as_before(page, assert_screenshot, name):
    page.set_content(f"<body style='font: 16px sans-serif; margin: 16px'>{PAGES[name]}</body>")
    assert_screenshot(page, f"{name}.png")

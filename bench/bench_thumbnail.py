"""thumbnail() of a 1366 x 3000 screenshot at width 200 against Pillow doing
the same job: open the PNG, resize with LANCZOS, save lossless WebP. Then the
part after decoding alone: current_thumbnail() against Pillow's resize and
save of an already decoded image."""

import io

from PIL import Image

import quorvane
import timing

WIDTH = 200
png = (timing.SCREENS / "page_baseline.png").read_bytes()


def pillow_thumbnail(image):
    height = max(1, round(image.height * WIDTH / image.width))
    out = io.BytesIO()
    image.convert("RGB").resize((WIDTH, height), Image.LANCZOS).save(out, "WEBP", lossless=True)
    return out.getvalue()


def pillow_from_png():
    with Image.open(io.BytesIO(png)) as image:
        return pillow_thumbnail(image)


decoded = Image.open(io.BytesIO(png)).convert("RGB")
decoded.load()
comparison = quorvane.Comparison(png, png)

timing.compare("thumbnail(page_baseline.png, 200)", lambda: quorvane.thumbnail(png, WIDTH), pillow_from_png,
               "Pillow open + LANCZOS + lossless WebP", target=1.0)
timing.compare("current_thumbnail(200), decoded", lambda: comparison.current_thumbnail(WIDTH),
               lambda: pillow_thumbnail(decoded), "Pillow LANCZOS + lossless WebP")

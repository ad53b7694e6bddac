// The package's types as a TypeScript program uses them; js_test.py checks
// it with tsc --noEmit in the project that installed the package.
import { decode, encode, encodeDcx, inspect, PcxError } from 'pixmora';
import type { DecodedPicture, Layout, PcxInfo, PictureInput } from 'pixmora';

async function thumbnailColours(bytes: Uint8Array): Promise<string[]> {
    const info: PcxInfo = await inspect(bytes);
    if (info.verdict !== 0)
        return [info.reasonText];
    const picture: DecodedPicture = await decode(bytes, { page: 0, allLayouts: true });
    const data: Uint8ClampedArray = picture.data;
    const first = `${data[0]},${data[1]},${data[2]}`;
    return [first, ...(picture.palette ?? []).map(([r, g, b]) => `${r},${g},${b}`)];
}

async function convert(pictures: PictureInput[], layout: Layout): Promise<Uint8Array> {
    try {
        return pictures.length === 1 ? await encode(pictures[0], { layout }) : await encodeDcx(pictures, { layout });
    } catch (error) {
        if (error instanceof PcxError && error.result === 7)
            return encode(pictures[0], { layout: 'rgb24' });
        throw error;
    }
}

const picture: PictureInput = { width: 1, height: 1, data: new Uint8ClampedArray([255, 0, 0, 255]) };
convert([picture], 'mono').then(thumbnailColours).then(colours => console.log(colours.join(' ')));

// Types of the pixmora package: PCX and DCX pictures decoded to and encoded
// from RGBA.

/** The bytes of a file: a Uint8Array (a Node Buffer is one), any other view
 * of an ArrayBuffer, or the ArrayBuffer itself. */
export type Bytes = ArrayBuffer | ArrayBufferView;

/** The PCX layouts of the encoders, as pixmora-convert's --layout names
 * them; 'auto' is the library's choice for RGBA pictures, 24-bit colour in
 * three planes ('rgb24'). */
export type Layout = 'auto' | 'mono' | 'cga4' | 'packed16' | 'vga256' | 'planes4' | 'planes8' | 'ega16' | 'rgb24';

/** An RGB colour, each channel 0 to 255. */
export type Colour = [number, number, number];

export interface DecodeOptions {
    /** The page of a DCX file, 0 for the first (and for a PCX file). */
    page?: number;
    /** Read every layout, not only 1-bit, 16-, 256-colour and 24-bit ones (default true). */
    allLayouts?: boolean;
}

export interface InspectOptions extends DecodeOptions {}

export interface EncodeOptions {
    /** default 'auto' */
    layout?: Layout;
}

/** An RGBA picture to encode: an ImageData fits. */
export interface PictureInput {
    width: number;
    height: number;
    /** width x height x 4 bytes of RGBA, top row first; alpha is ignored. */
    data: Uint8ClampedArray | Uint8Array;
}

export interface DecodedPicture {
    width: number;
    height: number;
    /** RGBA, top row first, alpha 255: `new ImageData(data, width, height)` takes it. */
    data: Uint8ClampedArray;
    /** The page decoded. */
    page: number;
    /** Pages in the file: 1 for a PCX file. */
    pageCount: number;
    /** Palette entries in use for a picture of 256 colours or fewer; 16777216 for 24-bit colour. */
    colours: number;
    /** The picture's colours, for 256 colours or fewer; null for 24-bit colour. */
    palette: Colour[] | null;
}

/** pm_pcx_info's fields, for a buffer of 32 bits. */
export interface PcxInfo {
    size: number;
    pageCount: number;
    page: number;
    pageOffset: number;
    /** 1 when 128 header bytes were there to read */
    headerPresent: number;
    manufacturer: number;
    version: number;
    encoding: number;
    bitsPerPixel: number;
    xMin: number;
    yMin: number;
    xMax: number;
    yMax: number;
    hDpi: number;
    vDpi: number;
    planes: number;
    reservedByte: number;
    bytesPerLine: number;
    paletteInfo: number;
    hScreenSize: number;
    vScreenSize: number;
    /** The header's 16 colours. */
    colormap: Colour[];
    width: number;
    height: number;
    colours: number;
    trailerPresent: number;
    /** 0 none, 1 the header's 16 colours, 2 the trailer's 256, 3 a ramp of greys */
    paletteKind: number;
    paletteCount: number;
    palette: Colour[];
    depth: number;
    /** What decoding gives: 0 taken, 2 invalid, 3 unsupported. */
    verdict: number;
    reason: number;
    reasonText: string;
}

/** A refusal by the library: `result` is its number (PM_PCX_...), the message its words. */
export class PcxError extends Error {
    readonly name: 'PcxError';
    readonly result: number;
    constructor(result: number, message: string);
}

/** Decodes a PCX picture or a DCX page. Rejects with a PcxError when the
 * library refuses it, with a TypeError for arguments of the wrong kind. */
export function decode(bytes: Bytes, options?: DecodeOptions): Promise<DecodedPicture>;
/** Encodes an RGBA picture as a PCX file. */
export function encode(picture: PictureInput, options?: EncodeOptions): Promise<Uint8Array>;
/** Encodes 1 to 1023 RGBA pictures as the pages of a DCX file. */
export function encodeDcx(pictures: PictureInput[], options?: EncodeOptions): Promise<Uint8Array>;
/** Describes a PCX picture or a DCX page without decoding it. */
export function inspect(bytes: Bytes, options?: InspectOptions): Promise<PcxInfo>;

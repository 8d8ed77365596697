#ifndef TRIAXLIMITS_H
#define TRIAXLIMITS_H

// What the instrument may be asked for, and why: the one table that the
// controller's requests check and that every face shows, the window's
// fields and the remote methods (getLimits, from which the page and the
// device server learn them). Plain values, so that a face written in
// anything can be given them.
template<typename T>
struct TriaxLimit
{
    const char *name;
    const char *unit;
    T minimum;
    T maximum;
    // Decimals a request may carry.
    int decimals;
    const char *reason;

    // NaN admits nothing.
    constexpr bool admits(T value) const { return value >= minimum && value <= maximum; }
};

namespace TriaxLimits {

inline constexpr TriaxLimit<double> wavelength { "wavelength", "nm", 250.0, 1300.0, 2,
    "the range the panel has always let its operators set; a request carries at most two "
    "decimals, as the window's field takes them" };

inline constexpr TriaxLimit<int> slit { "slit", "steps", 0, 1400, 0,
    "a slit's whole travel: 1400 steps open it 2 mm" };

inline constexpr TriaxLimit<int> grating { "grating", "", 0, 2, 0,
    "the instrument carries three gratings, numbered from 0" };

inline constexpr TriaxLimit<int> relativeMove { "relative move", "steps", -10000, 10000, 0,
    "10000 steps are 250 nm, a quarter of the drive's range, so that a digit typed too many "
    "cannot drive the grating across the whole of it" };

} // namespace TriaxLimits

#endif

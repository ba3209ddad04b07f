#pragma once

// The product's name, version and the maker's web-site host: the window
// title, the About box and the crash report all quote them.
namespace product {

inline constexpr char kName[] = "Quorvel";
inline constexpr char kVersion[] = "3.0";
inline constexpr char kMakerHost[] = "www.quorvel.example";
// The web site, as the About box shows it and opens it.
inline constexpr char kWebSite[] = "https://www.quorvel.example/";
// "Quorvel 3.0  [www.quorvel.example]": two blanks before the host.
inline constexpr char kTitle[] = "Quorvel 3.0  [www.quorvel.example]";
// The name of the desktop entry, the software catalogue's entry and the
// icon: the maker's host reversed, then the product.
inline constexpr char kDesktopId[] = "example.quorvel.Quorvel";

}  // namespace product

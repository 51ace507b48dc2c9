#pragma once

// Windows takes "\" and "/" alike as the separator between folder names, in narrow
// and in wide paths; every rule here that cuts a path at folders asks this one.

template <typename Char>
constexpr bool isSeparator(Char c)
{
    return c == static_cast<Char>('/') || c == static_cast<Char>('\\');
}

// `path` without the separators it ends in ("C:\app\\" gives "C:\app").
template <typename String>
String withoutTrailingSeparators(String path)
{
    while (!path.empty() && isSeparator(path.back()))
        path.pop_back();
    return path;
}

.pragma library

// Builds the links and rich texts that point at the Quillora web site.

function escapeHtml(text) {
    return String(text === undefined || text === null ? "" : text)
        .replace(/&/g, "&amp;")
        .replace(/</g, "&lt;")
        .replace(/>/g, "&gt;")
        .replace(/"/g, "&quot;")
}

// The page on which a live stream's presentation is edited while it runs.
function liveEditUrl(siteUrl, presentationId) {
    return siteUrl + "/" + encodeURIComponent(String(presentationId).trim()) + "/-/edit/live"
}

// color: the link's colour; the default link colour is unreadable on the dark screens.
function link(url, text, color) {
    var label = escapeHtml(text)
    if (color)
        label = "<span style=\"color:" + color + "\">" + label + "</span>"
    return "<a href=\"" + escapeHtml(url) + "\">" + label + "</a>"
}

// "1920x1080, 1280x1024" from the list of {width, height} maps a slide source reports.
function resolutionsText(resolutions) {
    var parts = []
    if (resolutions) {
        for (var i = 0; i < resolutions.length; ++i)
            parts.push(resolutions[i].width + "x" + resolutions[i].height)
    }
    return parts.join(", ")
}

// A local directory as a file URL, for both "C:/..." and "/home/..." paths.
function directoryUrl(directory) {
    return "file:///" + String(directory).replace(/^\/+/, "")
}

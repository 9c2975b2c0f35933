// The one helper the page's views share for building their elements.
export function element(tag, className, parent, text) {
    const e = document.createElement(tag)
    if (className) e.className = className
    if (text !== undefined) e.textContent = text
    if (parent) parent.append(e)
    return e
}
